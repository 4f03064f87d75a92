#include <gtest/gtest.h>

#include "app/core/HelperClient.h"
#include "app/core/RemoteError.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"
#include "tests/support/TempDir.h"

// The real com.zephro.helper on an emulated two-fan laptop and a temp socket, run by the
// development service manager, talked to by this (signed) test program.
namespace zephro {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using testing::awaitTask;
using testing::spinUntil;

struct RealHelper {
  RealHelper() {
    const DevelopmentLayout layout = testing::testHelperLayout(dir.path(), dir / "helper.sock");
    auto runner = std::make_shared<ProcessCommandRunner>();
    services = std::make_shared<DevelopmentServiceManager>(
        layout, runner, std::make_unique<AutostartLoginItem>(dir / "autostart.desktop", "zephro"),
        StartupSettingsOpener(runner, "", ""));

    HelperClientOptions options;
    options.serviceManager = services;
    options.connectionFactory = [this, socket = layout.socketPath.string()] {
      ++connectionsMade;
      return xpc::Connection::toSocketPath(socket);
    };
    options.settleInterval = 1ms;
    client = std::make_unique<HelperClient>(std::move(options));
  }
  ~RealHelper() {
    client.reset();
    // Stop the helper if a test left it running.
    if (services->daemonService(kHelperPlistName)->status() == 1) {
      (void)services->daemonService(kHelperPlistName)->unregisterService();
    }
  }
  void start() { ASSERT_FALSE(services->daemonService(kHelperPlistName)->registerService()); }
  void stop() { ASSERT_FALSE(services->daemonService(kHelperPlistName)->unregisterService()); }

  testing::TempDir dir;
  std::shared_ptr<DevelopmentServiceManager> services;
  std::atomic<int> connectionsMade{0};
  std::unique_ptr<HelperClient> client;
};

TEST(RealHelper, ReadsTheFansAndDrivesThem) {
  RealHelper h;
  h.start();
  log::Capture capture;

  const auto fans = awaitTask(h.client->fetchFanInfo());
  ASSERT_TRUE(fans.succeeded()) << fans.errorText();
  ASSERT_EQ(fans.value->size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& fan = (*fans.value)[i];
    EXPECT_EQ(fan.index(), static_cast<std::int64_t>(i));
    EXPECT_GT(fan.maxRPM(), fan.minRPM());
    EXPECT_EQ(fan.mode(), FanMode::system);
  }
  const auto celsius = awaitTask(h.client->fetchSystemTemperature());
  ASSERT_TRUE(celsius.succeeded()) << celsius.errorText();
  EXPECT_GT(*celsius.value, 0.0);

  ASSERT_TRUE(awaitTask(h.client->setMode(FanMode::manual, {50, 50})).succeeded());
  const auto driven = awaitTask(h.client->fetchFanInfo());
  ASSERT_TRUE(driven.succeeded());
  EXPECT_EQ(driven.value->at(0).mode(), FanMode::manual);
  // Back to the firmware with no percentages at all.
  const auto released = awaitTask(h.client->setMode(FanMode::system, {}));
  ASSERT_TRUE(released.succeeded()) << released.errorText();
  const auto after = awaitTask(h.client->fetchFanInfo());
  ASSERT_TRUE(after.succeeded());
  EXPECT_EQ(after.value->at(0).mode(), FanMode::system);
  EXPECT_EQ(after.value->at(1).mode(), FanMode::system);

  EXPECT_EQ(h.connectionsMade, 1);
  EXPECT_TRUE(capture.lines().empty());
}

TEST(RealHelper, NotRunningFailsAtOnceThenARestartedHelperGetsAFreshConnection) {
  RealHelper h;
  log::Capture capture;
  const auto missing = awaitTask(h.client->fetchSystemTemperature());
  const auto transport = missing.errorAs<RemoteError>();
  ASSERT_TRUE(transport) << missing.errorText();
  EXPECT_EQ(transport->error().code, xpc::kConnectionInvalid);
  EXPECT_EQ(capture.lines(), Lines{"[Zephro] XPC Error in fetchSystemTemperature: " +
                                   transport->error().fullDescription()});
  ASSERT_TRUE(spinUntil([&] { return !h.client->hasConnection(); }));

  h.start();
  ASSERT_TRUE(awaitTask(h.client->fetchSystemTemperature()).succeeded());
  EXPECT_EQ(h.connectionsMade, 2);

  // The helper is replaced between two calls: the old connection is not reused.
  h.start();
  ASSERT_TRUE(spinUntil([&] { return !h.client->hasConnection(); }));
  const auto afterRestart = awaitTask(h.client->fetchFanInfo());
  ASSERT_TRUE(afterRestart.succeeded()) << afterRestart.errorText();
  EXPECT_EQ(afterRestart.value->size(), 2u);
  EXPECT_EQ(h.connectionsMade, 3);
}

TEST(RealHelper, TheLaunchCheckInstallsAMissingHelperAndThenLeavesItAlone) {
  RealHelper h;
  log::Capture capture;
  const auto install = awaitTask(h.client->verifyHelperAtLaunch());
  ASSERT_TRUE(install.succeeded()) << install.errorText();
  EXPECT_EQ(capture.lines(),
            (Lines{"[Zephro] Helper unreachable at launch \u2014 attempting install/repair.",
                   "[Zephro] Helper registered with SMAppService. Status: 1"}));
  capture.clear();
  const auto check = awaitTask(h.client->verifyHelperAtLaunch());
  ASSERT_TRUE(check.succeeded()) << check.errorText();
  EXPECT_EQ(capture.lines(),
            Lines{"[Zephro] Helper healthy (version 1.0.1) \u2014 leaving it alone."});

  // A forced repair restarts it and drops the connection; the next call reaches the new one.
  capture.clear();
  ASSERT_TRUE(awaitTask(h.client->registerHelperInBackground(true)).succeeded());
  EXPECT_EQ(capture.lines(),
            (Lines{"[Zephro] Reinstalling enabled helper to refresh to the current binary.",
                   "[Zephro] Helper re-registered via SMAppService."}));
  EXPECT_FALSE(h.client->hasConnection());
  ASSERT_TRUE(awaitTask(h.client->fetchHelperVersion()).succeeded());
}

}  // namespace
}  // namespace zephro
