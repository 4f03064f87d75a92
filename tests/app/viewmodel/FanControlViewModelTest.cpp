// An in-process helper for what a real one cannot be made to do (that is tests/app/intents').
#include "app/viewmodel/FanControlViewModel.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QSignalSpy>
#include <csignal>
#include <cstring>
#include <limits>

#include "app/core/RemoteError.h"
#include "app/viewmodel/FanPercentage.h"
#include "app/viewmodel/HeadlessApp.h"
#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/ScriptedHelper.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::FakeServiceManager;
using testing::ran;
using testing::ScriptedHelper;
using testing::spinUntil;
using testing::ViewModelOnSocket;

const Error kSmcError =
    Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC.");

std::vector<FanInfoDTO> twoFans(FanMode mode, double rpm0 = 3000, double rpm1 = 1000) {
  return {FanInfoDTO(0, rpm0, 1200, 6000, mode), FanInfoDTO(1, rpm1, 1200, 6000, mode)};
}

const Preset kQuiet{QUuid::createUuid(), QStringLiteral("Quiet"), PresetMode::percentage, 60,
                    std::nullopt};

using Calls = std::vector<ScriptedHelper::SetModeCall>;

template <typename T>
std::optional<Error> remoteError(QCoro::Task<T> task) {
  const auto error = testing::awaitTask(std::move(task)).template errorAs<RemoteError>();
  return error ? std::optional(error->error()) : std::nullopt;
}

struct Harness {
  explicit Harness(std::vector<FanInfoDTO> fans = {}) : vm(services) {
    helper.fans = std::move(fans);
    server = std::make_unique<InProcessHelperServer>(vm.socket, helper);
  }

  std::shared_ptr<FakeServiceManager> services = std::make_shared<FakeServiceManager>();
  ViewModelOnSocket vm;
  FanControlViewModel& model = *vm.viewModel;
  ScriptedHelper helper;
  std::unique_ptr<InProcessHelperServer> server;
};

// Turns the event loop for a while, for tests that show something does not happen.
void keepTurning(std::chrono::milliseconds duration) {
  spinUntil([] { return false; }, duration);
}

TEST(FanControlViewModel, PollsBuildTheSlidersAndLeaveManualOnesAloneUnlessTheFanCountChanges) {
  Harness h;
  h.helper.fans = {FanInfoDTO(0, 3000, 1200, 6000, FanMode::system),
                   FanInfoDTO(1, 1000, 1200, 6000, FanMode::system),
                   FanInfoDTO(2, 4000, 4000, 4000, FanMode::system)};
  h.helper.celsius = 51.5;
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.fans(), h.helper.fans);
  EXPECT_EQ(h.model.systemTemperature(), 51.5);
  // 37.5 % rounds up; below the range and a range of one speed both show 25.
  EXPECT_EQ(h.model.sliderPercentages(), (QList<int>{38, 25, 25}));

  ASSERT_TRUE(ran(h.model.setPercentage(1, 70)));
  EXPECT_EQ(h.model.sliderPercentages(), (QList<int>{38, 70, 25}));
  EXPECT_EQ(h.model.activeMode(), FanMode::manual);
  for (auto& f : h.helper.fans)
    f = FanInfoDTO(f.index(), 2000, f.minRPM(), f.maxRPM(), FanMode::manual);
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.sliderPercentages(), (QList<int>{38, 70, 25}));
  h.helper.fans = twoFans(FanMode::manual, 2000, 4000);
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.sliderPercentages(), (QList<int>{25, 58}));
}

TEST(FanControlViewModel, PollFailuresAreToleratedOnceThenShown) {
  Harness h(twoFans(FanMode::system));
  h.helper.celsius = 40;
  ASSERT_TRUE(ran(h.model.refresh()));

  // The fan list that did arrive is not applied when the temperature fails.
  h.helper.fans = twoFans(FanMode::system, 5000, 5000);
  h.helper.temperatureError = kSmcError;
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::connected());
  EXPECT_EQ(h.model.fans(), twoFans(FanMode::system));

  // The second failure in a row shows the error's text; the fan error wins.
  h.helper.fanError = Error::withDescription("HelperError", 7, "The fans are gone.");
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::error("The fans are gone."));

  // The next good poll recovers, and the count of failures starts again.
  h.helper.fanError.reset();
  h.helper.temperatureError.reset();
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::connected());
  EXPECT_EQ(h.model.fans(), twoFans(FanMode::system, 5000, 5000));
  h.helper.fanError = kSmcError;
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::connected());

  // An approval prompt says more than failing polls, until one succeeds.
  h.model.showNeedsApproval();
  for (int poll = 0; poll < 3; ++poll) ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::needsApproval());
  h.helper.fanError.reset();
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::connected());
}

TEST(FanControlViewModel, WithoutFansOrWhenTheyCannotBeLoadedNothingIsSent) {
  Harness h;
  ASSERT_TRUE(ran(h.model.applyPreset(kQuiet)) && ran(h.model.adjustAllFans(10)));
  // Without fans even index 0 is out of range.
  ASSERT_TRUE(ran(h.model.setPercentage(0, 50)) && ran(h.model.setPercentage(-1, 50)));
  EXPECT_EQ(h.model.presetStore().activePresetID(), std::nullopt);

  // A load failure before a change is passed on, without sending or showing it.
  h.helper.fanError = kSmcError;
  EXPECT_EQ(remoteError(h.model.setMaxMode()), kSmcError);
  EXPECT_FALSE(h.model.isApplyingChange());
  EXPECT_EQ(h.helper.recordedSetModeCalls(), Calls{});
  EXPECT_EQ(h.model.connectionState(), ConnectionState::connecting());
}

TEST(FanControlViewModel, ARefusedChangeShowsTheErrorAndKeepsTheModeAndPreset) {
  const auto notAuthorized = Error::withDescription(kHelperErrorDomain, kHelperNotAuthorized,
                                                    "Not authorized to change the fans.");
  Harness h(twoFans(FanMode::system));
  ASSERT_TRUE(ran(h.model.applyPreset(kQuiet)));
  EXPECT_EQ(h.helper.recordedSetModeCalls(), (Calls{{1, {60, 60}}}));

  h.helper.setModeError = kSmcError;
  EXPECT_EQ(remoteError(h.model.setMaxMode()), kSmcError);
  EXPECT_EQ(h.model.connectionState(),
            ConnectionState::error("Could not open connection to AppleSMC."));
  EXPECT_EQ(std::tuple(h.model.activeMode(), h.model.presetStore().activePresetID(),
                       h.model.isApplyingChange()),
            std::tuple(FanMode::manual, std::optional(kQuiet.id), false));

  // Refusals that retrying cannot overcome are states of their own, so the popover can say why.
  using Refusal = ConnectionState::Refusal;
  for (const auto& [error, refusal] :
       {std::pair{notAuthorized, Refusal::notAuthorized},
        std::pair{Error::withDescription("SMCErrorDomain", kReadOnlyFanStatus, "Read-only"),
                  Refusal::readOnlyFans}}) {
    h.helper.setModeError = error;
    EXPECT_EQ(remoteError(h.model.setMaxMode()), error);
    EXPECT_EQ(
        h.model.connectionState(),
        ConnectionState::refused(refusal, QString::fromStdString(error.localizedDescription())));
  }

  // A manual report keeps the preset, a system one clears it.
  h.helper.fans = twoFans(FanMode::manual);
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.presetStore().activePresetID(), kQuiet.id);
  h.helper.fans = twoFans(FanMode::system);
  ASSERT_TRUE(ran(h.model.refresh()));
  EXPECT_EQ(h.model.presetStore().activePresetID(), std::nullopt);

  // A slider change does not throw: it shows the error only.
  h.model.showNeedsApproval();
  EXPECT_TRUE(ran(h.model.setPercentage(0, 40)));
  EXPECT_EQ(h.model.connectionState().kind(), ConnectionState::Kind::error);
}

TEST(FanControlViewModel, TwoSliderCommitsBackToBackBothReachTheHelper) {
  Harness h(twoFans(FanMode::system));
  ASSERT_TRUE(ran(h.model.refresh()));

  h.helper.hold();
  h.model.commitPercentage(0, 40);
  h.model.commitPercentage(1, 70);
  ASSERT_TRUE(spinUntil([&] { return h.helper.heldCount() == 2; }));
  EXPECT_TRUE(h.model.isApplyingChange());

  // The first answer leaves the second change in flight, still covered.
  QSignalSpy flag(&h.model, &FanControlViewModel::isApplyingChangeChanged);
  h.helper.releaseHeld();
  ASSERT_TRUE(spinUntil([&] { return !h.model.isApplyingChange(); }));
  EXPECT_EQ(flag.count(), 1);

  EXPECT_EQ(h.helper.recordedSetModeCalls(), (Calls{{1, {40, 25}}, {1, {40, 70}}}));
}

// Answers can overtake one another: a connection replaced after a time-out, a helper out of turn.
TEST(FanControlViewModel, APollAskedBeforeALaterChangeIsDropped) {
  for (const bool newestFirst : {false, true}) {
    Harness h(twoFans(FanMode::system));
    ASSERT_TRUE(ran(h.model.refresh()));

    h.helper.hold();
    auto poll = h.model.refresh();
    auto change = h.model.setMaxMode();
    ASSERT_TRUE(spinUntil([&] { return h.helper.heldCount() == 3; }));
    h.helper.releaseHeld(newestFirst);
    ASSERT_TRUE(ran(std::move(change)));
    ASSERT_TRUE(ran(std::move(poll)));
    EXPECT_EQ(h.model.activeMode(), FanMode::max) << newestFirst;
    EXPECT_EQ(h.model.sliderPercentages(), (QList<int>{100, 100})) << newestFirst;

    ASSERT_TRUE(ran(h.model.refresh()));
    EXPECT_EQ(h.model.activeMode(), FanMode::system);
    EXPECT_EQ(h.model.sliderPercentages(), (QList<int>{38, 25}));
  }
}

TEST(FanControlViewModel, ThePollLoopRunsSkipsChangesAndStops) {
  Harness h(twoFans(FanMode::system));
  // Fans that stay as set, so that a wake finds nothing to put back.
  h.helper.update([](auto& helper) { helper.followModeChanges = true; });
  h.model.startRefreshing();
  ASSERT_TRUE(spinUntil([&] { return h.helper.fanRequests >= 3; }));

  // While a change is in flight neither the loop nor a wake asks the helper anything.
  h.helper.hold(true);
  h.model.selectMode(FanControlViewModel::Mode::Max);
  ASSERT_TRUE(spinUntil([&] { return h.helper.heldCount() == 1; }));
  const int beforeChange = h.helper.fanRequests;
  emit h.vm.wake->didWake();
  keepTurning(300ms);
  EXPECT_EQ(h.helper.fanRequests, beforeChange);
  h.helper.releaseHeld();
  ASSERT_TRUE(spinUntil([&] { return !h.model.isApplyingChange(); }));
  ASSERT_TRUE(spinUntil([&] { return h.helper.fanRequests > beforeChange; }));

  // Stopped, the loop asks nothing more; a wake still polls once.
  h.model.stopRefreshing();
  keepTurning(100ms);
  const int stopped = h.helper.fanRequests;
  keepTurning(300ms);
  EXPECT_EQ(h.helper.fanRequests, stopped);
  emit h.vm.wake->didWake();
  ASSERT_TRUE(spinUntil([&] { return h.helper.fanRequests == stopped + 1; }));

  // Starting again replaces the loop rather than adding a second one.
  h.model.startRefreshing();
  h.model.startRefreshing();
  ASSERT_TRUE(spinUntil([&] { return h.helper.fanRequests >= stopped + 3; }));
  // Replies come in request order: after a last poll no task is left suspended at exit.
  h.model.stopRefreshing();
  ASSERT_TRUE(ran(h.model.refresh()));
}

TEST(FanControlViewModel, AViewModelDestroyedMidOperationEndsItsTasksQuietly) {
  Harness h(twoFans(FanMode::system));
  h.model.startRefreshing();
  ASSERT_TRUE(spinUntil([&] { return h.model.connectionState() == ConnectionState::connected(); }));

  h.helper.hold();
  auto refresh = h.model.refresh();
  auto change = h.model.setMaxMode();
  ASSERT_TRUE(spinUntil([&] { return h.helper.heldCount() >= 3; }));
  h.vm.viewModel.reset();
  h.helper.releaseHeld();
  EXPECT_TRUE(ran(std::move(refresh)));
  EXPECT_TRUE(ran(std::move(change)));
  // Let the cancelled loop wake up and find its view model gone.
  keepTurning(100ms);
}

TEST(FanControlViewModel, InstallingThatNeedsApprovalOpensLoginItemsWithoutPolling) {
  Harness h;
  h.helper.hold();
  h.services->scriptStatusAfterRegister({{static_cast<int>(ServiceStatus::requiresApproval)}});
  ASSERT_TRUE(ran(h.model.installHelper()));
  EXPECT_EQ(h.model.connectionState(), ConnectionState::needsApproval());
  EXPECT_EQ(std::tuple(h.services->count("openSettings"), h.helper.heldCount(),
                       h.model.isInstallingHelper()),
            std::tuple(1, std::size_t{0}, false));
}

// Whatever the registration says, five failing readiness polls end in the error state.
TEST(FanControlViewModel, AnInstallFailureIsLoggedAndReadinessDecides) {
  Harness h(twoFans(FanMode::system));
  h.helper.fanError = kSmcError;
  const log::Capture capture;

  ASSERT_TRUE(ran(h.model.installHelper()));
  EXPECT_TRUE(capture.contains(
      "[Zephro] Helper install reported: Unable to register the helper: Helper status: 0"));
  EXPECT_EQ(std::tuple(h.model.connectionState().kind(), h.helper.fanRequests.load(),
                       h.model.isInstallingHelper()),
            std::tuple(ConnectionState::Kind::error, 5, false));
}

TEST(FanControlViewModel, TheMenuBarIconStaysWhenNothingElseIsShown) {
  Harness h;
  h.vm.defaults.setBool("showIconInMenuBar", false);
  // Nothing else in the menu bar: a new view model turns the icon back on.
  const FanControlViewModel model(*h.vm.client, h.vm.defaults, *h.services,
                                  std::make_unique<WakeSource>());
  EXPECT_TRUE(h.vm.defaults.boolValue("showIconInMenuBar"));
  QSignalSpy textVisible(&model, &FanControlViewModel::isMenuBarTextVisibleChanged);
  h.vm.defaults.setBool("showTempInMenuBar", true);
  EXPECT_TRUE(model.isMenuBarTextVisible());
  h.vm.defaults.setBool("showTempInMenuBar", false);
  EXPECT_FALSE(model.property("isMenuBarTextVisible").toBool());
  EXPECT_EQ(textVisible.count(), 2);
}

// Steps start from the fans' own speeds (95 % and 30 % here).
TEST(FanPercentage, UnusableReadingsShow25AndStepsStayInRange) {
  const auto fan = [](double rpm) { return FanInfoDTO(0, rpm, 1000, 3000, FanMode::system); };
  EXPECT_EQ(fanPercentages(std::vector{fan(std::numeric_limits<double>::quiet_NaN()), fan(1e300)}),
            (std::vector{25, std::numeric_limits<int>::max()}));
  const std::vector at95and30{fan(2900), fan(1600)};
  EXPECT_EQ(steppedPercentages(at95and30, 10), (std::vector{100, 40}));
  EXPECT_EQ(steppedPercentages(at95and30, std::numeric_limits<int>::min()), (std::vector{25, 25}));
}

// A closed terminal (SIGHUP) quits like Ctrl-C and SIGTERM.
TEST(HeadlessApp, PrintsTheReadingAndEachQuitSignalHandsTheFansBackOnceThenFinishes) {
  for (const auto& [signalNumber, refused] :
       {std::pair{SIGHUP, false}, {SIGTERM, false}, {SIGINT, false}, {SIGTERM, true}}) {
    SCOPED_TRACE(std::string(strsignal(signalNumber)) + (refused ? ", refused" : ""));
    Harness h(twoFans(FanMode::system, 1800, 2200.9));
    std::vector<std::string> lines;
    HeadlessApp app(
        h.model, h.vm.defaults, [&lines](const std::string& line) { lines.push_back(line); }, 20ms);
    h.helper.celsius = 51.5;
    if (refused) h.helper.setModeError = kSmcError;
    EXPECT_EQ(app.statusLine(), "connecting | 0°C | 0 RPM");
    app.start();
    ASSERT_TRUE(
        spinUntil([&] { return !lines.empty() && lines.back() == "connected | 52°C | 2200 RPM"; }));
    h.vm.defaults.setBool("useFahrenheit", true);
    EXPECT_EQ(app.statusLine(), "connected | 125°F | 2200 RPM");  // 124.7
    app.quitOnSignals();
    QSignalSpy finished(&app, &HeadlessApp::quitFinished);
    const log::Capture capture;

    // The second signal arrives while the first quit is under way and only waits for it.
    ASSERT_EQ(::raise(signalNumber), 0);
    ASSERT_EQ(::raise(signalNumber), 0);
    ASSERT_TRUE(spinUntil([&] { return finished.count() == 1; }));
    EXPECT_FALSE(h.model.isRefreshing());
    EXPECT_EQ(h.helper.recordedSetModeCalls(), (refused ? Calls{} : Calls{{0, {}}}));
    EXPECT_TRUE(capture.contains(refused
                                     ? "[Zephro] Failed to set mode to system on termination: " +
                                           kSmcError.fullDescription()
                                     : "[Zephro] Successfully set mode to system on termination."));
  }
}

TEST(HeadlessApp, TheLaunchCheckShowsApprovalOrWarns) {
  const auto services = std::make_shared<FakeServiceManager>();
  ViewModelOnSocket vm(services);  // nothing listens: the check registers the helper
  services->scriptStatus({{static_cast<int>(ServiceStatus::requiresApproval)}});
  ASSERT_TRUE(ran(runLaunchCheck(*vm.viewModel)));
  EXPECT_EQ(vm.viewModel->connectionState(), ConnectionState::needsApproval());

  const log::Capture capture;
  services->scriptStatus({{9}});
  ASSERT_TRUE(ran(runLaunchCheck(*vm.viewModel)));
  EXPECT_TRUE(capture.contains(
      "[Zephro] WARNING: Helper launch check failed: Unable to register the helper: Unknown "
      "helper status: 9"));
}

void prepareForSleep(QDBusConnection& logind, bool sleeping) {
  auto signal = QDBusMessage::createSignal("/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", "PrepareForSleep");
  signal << sleeping;
  ASSERT_TRUE(logind.send(signal));
}

TEST(LogindWakeSource, ReportsOnlyTheEndOfSleepFromLogind) {
  testing::PrivateBus bus;
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

  ASSERT_TRUE(spinUntil([&] { return wakes.count() >= 1; }));
  keepTurning(200ms);
  EXPECT_EQ(wakes.count(), 1);
}

}  // namespace
}  // namespace zephro
