#include "app/viewmodel/HeadlessApp.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <csignal>
#include <cstring>

#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/ScriptedHelper.h"

namespace zephro {
namespace {

using testing::awaitTask;
using testing::FakeServiceManager;
using testing::ScriptedHelper;
using testing::ViewModelOnSocket;

struct Headless {
  Headless()
      : vm(services),
        app(
            *vm.viewModel, vm.defaults, [this](const std::string& line) { lines.push_back(line); },
            std::chrono::milliseconds(20)) {}
  void serve() { server = std::make_unique<InProcessHelperServer>(vm.socket, helper); }

  FakeServiceManager services;
  ViewModelOnSocket vm;
  std::vector<std::string> lines;
  HeadlessApp app;
  ScriptedHelper helper;
  std::unique_ptr<InProcessHelperServer> server;
};

TEST(HeadlessApp, PrintsTheStateTemperatureAndHighestSpeed) {
  Headless h;
  h.helper.fans = {FanInfoDTO(0, 1800, 1200, 6000, FanMode::system),
                   FanInfoDTO(1, 2200.9, 1200, 6000, FanMode::system)};
  h.helper.celsius = 51.5;
  h.serve();
  EXPECT_EQ(h.app.statusLine(), "connecting | 0°C | 0 RPM");

  h.app.start();
  ASSERT_TRUE(testing::spinUntil(
      [&] { return !h.lines.empty() && h.lines.back() == "connected | 52°C | 2200 RPM"; }));
  EXPECT_TRUE(h.vm.viewModel->isRefreshing());

  h.vm.defaults.setBool("useFahrenheit", true);
  EXPECT_EQ(h.app.statusLine(), "connected | 125°F | 2200 RPM");  // 124.7

  // Replies come back in order: after one more poll nothing sent before is pending.
  h.vm.viewModel->stopRefreshing();
  ASSERT_TRUE(awaitTask(h.vm.viewModel->refresh()).succeeded());
}

// A closed terminal (SIGHUP) quits like Ctrl-C and SIGTERM: the fans go back first.
TEST(HeadlessApp, EachQuitSignalHandsTheFansBackOnceThenFinishes) {
  for (const int signalNumber : {SIGHUP, SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signalNumber));
    Headless h;
    h.serve();
    h.app.start();
    h.app.quitOnSignals();
    QSignalSpy finished(&h.app, &HeadlessApp::quitFinished);
    const log::Capture capture;

    // The second signal arrives while the first quit is under way and only waits for it.
    ASSERT_EQ(::raise(signalNumber), 0);
    ASSERT_EQ(::raise(signalNumber), 0);
    ASSERT_TRUE(testing::spinUntil([&] { return finished.count() == 1; }));
    EXPECT_FALSE(h.vm.viewModel->isRefreshing());
    const auto calls = h.helper.recordedSetModeCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls.front().mode, rawValue(FanMode::system));
    EXPECT_TRUE(calls.front().percentages.empty());
    EXPECT_TRUE(capture.contains("[Zephro] Successfully set mode to system on termination."));
  }
}

TEST(HeadlessApp, AFailedHandBackIsLogged) {
  Headless h;
  h.helper.setModeError =
      Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC.");
  h.serve();
  const log::Capture capture;
  ASSERT_TRUE(awaitTask(h.app.quit()).succeeded());
  EXPECT_TRUE(capture.contains(
      "[Zephro] Failed to set mode to system on termination: Error Domain=SMCErrorDomain Code=1 "
      "\"Could not open connection to AppleSMC.\" "
      "UserInfo={NSLocalizedDescription=Could not open connection to AppleSMC.}"));
}

TEST(HeadlessApp, TheLaunchCheckShowsApprovalOrWarns) {
  FakeServiceManager services;
  ViewModelOnSocket vm(services);  // nothing listens: the check registers the helper
  services.scriptStatus({{static_cast<int>(ServiceStatus::requiresApproval)}});
  ASSERT_TRUE(awaitTask(runLaunchCheck(*vm.viewModel)).succeeded());
  EXPECT_EQ(vm.viewModel->connectionState(), ConnectionState::needsApproval());

  const log::Capture capture;
  services.scriptStatus({{9}});
  ASSERT_TRUE(awaitTask(runLaunchCheck(*vm.viewModel)).succeeded());
  EXPECT_TRUE(capture.contains(
      "[Zephro] WARNING: Helper launch check failed: Unable to register the helper: Unknown "
      "helper status: 9"));
}

}  // namespace
}  // namespace zephro
