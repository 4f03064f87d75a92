#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QSignalSpy>
#include <chrono>
#include <future>
#include <memory>

#include "app/core/HelperClient.h"
#include "app/shell/PopoverPlacement.h"
#include "app/shell/QuitCoordinator.h"
#include "app/shell/SingleInstance.h"
#include "app/ui/LocalizationManager.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "app/viewmodel/HeadlessApp.h"
#include "app/viewmodel/WakeSource.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/xpc/Socket.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/TempDir.h"

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

QCoro::Task<> nothing() {
  co_return;
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
  testing::spinUntil(
      [&] { return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  return claim.get();
}

TEST(SingleInstance, ALaterLaunchHandsItsArgumentsToTheFirst) {
  auto bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected()) << "the tests run on a private session bus";
  auto first = std::make_unique<SingleInstance>(bus);
  ASSERT_EQ(first->claim({}), SingleInstance::Claim::first);
  QSignalSpy activated(first.get(), &SingleInstance::activated);
  QStringList actions;
  const testing::TempDir dir;
  UserDefaults defaults(QString::fromStdString((dir / "settings.json").string()));
  const LocalizationManager localization(defaults);
  first->setActionHandler(
      [&actions](QString name, QVariantList /*parameter*/) {
        actions.append(name);
        return nothing();
      },
      localization);

  EXPECT_EQ(launch("later", {}), SingleInstance::Claim::forwarded);
  EXPECT_EQ(launch("later", {"--show-onboarding"}), SingleInstance::Claim::forwarded);
  EXPECT_EQ(activated.count(), 1);
  EXPECT_EQ(actions, QStringList{"onboarding"});

  // Once the first is gone the name is free for the next launch.
  first.reset();
  EXPECT_EQ(launch("next", {}), SingleInstance::Claim::first);
}

// The helper's socket takes the connection and then never answers: the quit ends at the
// client's time-out, with the failure logged, and a second request in the meantime
// neither cuts it short nor quits twice.
TEST(QuitCoordinator, AStalledHelperEndsTheQuitAtTheTimeOut) {
  const testing::TempDir dir;
  const std::string socket = (dir / "helper.sock").string();
  const auto listening = xpc::listenUnixSocket(socket);
  testing::FakeServiceManager services;
  HelperClientOptions options;
  options.connectionFactory = HelperClientOptions::connectingTo(socket);
  options.serviceManager = std::shared_ptr<ServiceManager>(&services, [](auto*) {});
  options.callTimeout = std::chrono::milliseconds(300);
  HelperClient client(std::move(options));

  UserDefaults defaults(QString::fromStdString((dir / "settings.json").string()));
  FanControlViewModel viewModel(client, defaults, services, std::make_unique<WakeSource>());

  const log::Capture capture;
  QuitCoordinator quit([&viewModel] { return releaseFansForQuit(viewModel); });
  QSignalSpy finished(&quit, &QuitCoordinator::finished);
  quit.requestQuit();
  quit.requestQuit();
  ASSERT_TRUE(testing::spinUntil([&] { return finished.count() > 0; }, std::chrono::seconds(10)));
  QCoreApplication::processEvents();
  EXPECT_EQ(finished.count(), 1);
  const auto lines = capture.linesStartingWith("[Zephro] ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines.front().rfind("[Zephro] Failed to set mode to system on termination: ", 0), 0u)
      << lines.front();
}

}  // namespace
}  // namespace zephro
