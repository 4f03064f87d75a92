#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QCoreApplication>
#include <QSignalSpy>
#include <chrono>
#include <future>
#include <memory>

#include "app/shell/PopoverPlacement.h"
#include "app/shell/SingleInstance.h"

namespace zephro {
namespace {

TEST(PopoverPlacement, OpensAtTheTrayAndStaysOnTheScreen) {
  const QRect screen(0, 30, 1920, 1050);  // a top panel of 30
  const QSize popover(320, 600);
  const struct {
    const char* where;
    QPoint anchor;
    QPoint expected;
  } cases[] = {
      {"top panel, middle", {1000, 15}, {840, 30}},
      {"top panel, right edge", {1910, 15}, {1600, 30}},
      {"top panel, left edge", {5, 15}, {0, 30}},
      {"bottom panel", {1000, 1075}, {840, 471}},
  };
  for (const auto& [where, anchor, expected] : cases) {
    EXPECT_EQ(popoverPosition(anchor, popover, screen), expected) << where;
  }
  // Taller than the screen: the top stays on it.
  EXPECT_EQ(popoverPosition({1000, 15}, {320, 2000}, screen).y(), 30);
  EXPECT_EQ(popoverMaximumHeight(&screen), 1026);
  EXPECT_EQ(popoverMaximumHeight(nullptr), 576);
}

// A later launch runs in another process; here it is another connection on a thread
// of its own, so that this thread's event loop can answer it.
SingleInstance::Claim launch(const QString& name, const QStringList& arguments) {
  auto claim = std::async(std::launch::async, [name, arguments] {
    const auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    const auto result = SingleInstance(bus).claim(arguments);
    QDBusConnection::disconnectFromBus(name);
    return result;
  });
  while (claim.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    QCoreApplication::processEvents();
  }
  return claim.get();
}

TEST(SingleInstance, ALaterLaunchHandsItsArgumentsToTheFirst) {
  auto bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected()) << "the tests run on a private session bus";
  auto first = std::make_unique<SingleInstance>(bus);
  ASSERT_EQ(first->claim({}), SingleInstance::Claim::first);
  QSignalSpy activated(first.get(), &SingleInstance::activated);
  QSignalSpy onboarding(first.get(), &SingleInstance::onboardingRequested);

  EXPECT_EQ(launch("later", {}), SingleInstance::Claim::forwarded);
  EXPECT_EQ(launch("later", {"--show-onboarding"}), SingleInstance::Claim::forwarded);
  EXPECT_EQ(activated.count(), 1);
  EXPECT_EQ(onboarding.count(), 1);

  // Once the first is gone the name is free for the next launch.
  first.reset();
  EXPECT_EQ(launch("next", {}), SingleInstance::Claim::first);
}

}  // namespace
}  // namespace zephro
