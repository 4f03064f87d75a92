// The logind wake source on a private message bus of its own, where the test plays
// systemd-logind.
#include "app/viewmodel/WakeSource.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QSignalSpy>

#include "tests/app/core/TaskRunner.h"
#include "tests/support/PrivateBus.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::PrivateBus;

void prepareForSleep(QDBusConnection& logind, bool sleeping) {
  auto signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "PrepareForSleep");
  signal << sleeping;
  ASSERT_TRUE(logind.send(signal));
}

TEST(LogindWakeSource, ReportsOnlyTheEndOfSleepFromLogind) {
  PrivateBus bus;
  ASSERT_TRUE(bus.isRunning());
  LogindWakeSource source(bus.connect("listener"));
  ASSERT_TRUE(source.isListening());
  QSignalSpy wakes(&source, &WakeSource::didWake);

  // Someone other than logind announcing the same signal is not listened to.
  QDBusConnection impostor = bus.connect("logind");
  prepareForSleep(impostor, false);
  ASSERT_TRUE(impostor.registerService("org.freedesktop.login1"));
  prepareForSleep(impostor, true);
  prepareForSleep(impostor, false);

  ASSERT_TRUE(testing::spinUntil([&] { return wakes.count() >= 1; }));
  testing::spinUntil([] { return false; }, 200ms);
  EXPECT_EQ(wakes.count(), 1);
}

}  // namespace
}  // namespace zephro
