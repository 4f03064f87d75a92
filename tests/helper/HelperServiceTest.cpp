#include "helper/HelperService.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>

#include "platform/codesign/Keys.h"
#include "platform/log/Log.h"
#include "tests/helper/SmcFixture.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::shippedMachine;

smc::MachineProfile machineWithFans(const std::string& fans) {
  return smc::MachineProfile::fromJson(
      R"({"model": "Test,1", "fanSpeedType": "flt ", "modeKey": "F%dMd", "fans": )" + fans + "}",
      "test");
}

// Stands in for the system's polkit, which the daemon tests run for real.
struct ScriptedAuthority final : polkit::Authority {
  polkit::Decision check(const std::string& action, const polkit::Subject& subject) override {
    asked.push_back(action + " uid " + std::to_string(subject.uid));
    return answer;
  }
  polkit::Decision answer;
  std::vector<std::string> asked;
};

// A HelperService over an emulated machine that takes no real time to move the fans.
struct ServiceFixture : testing::EmulatedMachine {
  explicit ServiceFixture(smc::MachineProfile profile, uid_t ownUser = ::geteuid())
      : EmulatedMachine(std::move(profile)),
        service(std::make_unique<HelperService>(
            [this](Error* error) {
              ++opens;
              return available ? open(error)
                               : SMCWrapperObjC::create(smc::makeUserClient(""), sleeper, error);
            },
            codesign::TrustAnchor(codesign::KeyPair::generate().publicKey), authority, ownUser)) {}

  std::pair<std::vector<FanInfoDTO>, std::optional<Error>> fanInfo() const {
    std::pair<std::vector<FanInfoDTO>, std::optional<Error>> result;
    service->getFanInfo([&](auto fans, auto error) { result = {fans, error}; });
    return result;
  }

  std::optional<Error> setMode(std::int64_t mode, std::vector<std::int64_t> percentages) const {
    std::optional<Error> result = Error{"unanswered", 0, {}};
    service->setFanMode(mode, std::move(percentages), [&](auto error) { result = error; });
    return result;
  }

  std::vector<FanMode> modes() const {
    std::vector<FanMode> modes;
    for (const auto& fan : fanInfo().first) modes.push_back(fan.mode());
    return modes;
  }

  [[nodiscard]] std::vector<double> targets() const {
    std::vector<double> rpm;
    for (std::size_t fan = 0; fan < smc->profile().fans.size(); ++fan) {
      rpm.push_back(smc->fanTarget(fan));
    }
    return rpm;
  }

  log::Capture capture;
  bool available = true;
  int opens = 0;
  ScriptedAuthority authority;
  std::unique_ptr<HelperService> service;
};

// A helper started before the driver loaded: every request tries the controller again
// until it opens once, and the version needs none.
TEST(HelperService, EveryCallOpensTheSmcUntilItOpensOnce) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  f.available = false;
  f.service->getVersion([](const std::string& version) { EXPECT_EQ(version, "1.0.1"); });
  EXPECT_EQ(f.setMode(2, {}),
            Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC."));
  EXPECT_EQ(f.fanInfo().first.size(), 0U);
  f.available = true;
  EXPECT_EQ(f.fanInfo().first.size(), 2U);
  EXPECT_EQ(f.fanInfo().first.size(), 2U);
  EXPECT_EQ(f.opens, 3);
}

TEST(HelperService, AModeTheFirmwareEndedIsResyncedOnce) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  using enum FanMode;
  EXPECT_EQ(f.setMode(1, {40, 60}), std::nullopt);
  EXPECT_EQ(f.modes(), (std::vector{manual, manual}));
  // The firmware takes the fans back behind the helper's back.
  f.smc->setKeyBytes("FS! ", testing::Bytes{0, 0});
  f.smc->setKeyBytes("F0Md", testing::Bytes{0});
  f.smc->setKeyBytes("F1Md", testing::Bytes{0});
  const std::string resync =
      "[ZephroHelper] getFanInfo: SMC shows system control but currentMode was 1; resyncing to "
      ".system.";
  EXPECT_EQ(f.modes(), (std::vector{system, system}));
  EXPECT_EQ(f.service->currentMode(), system);
  EXPECT_TRUE(f.capture.contains(resync));
  f.capture.clear();
  EXPECT_EQ(f.modes(), (std::vector{system, system}));
  EXPECT_FALSE(f.capture.contains(resync));
}

TEST(HelperService, ManualTargetsSpanEachFansRangeAndPercentagesAreClamped) {
  ServiceFixture f(machineWithFans(
      R"([{"min": 1200, "max": 6000}, {"min": 1200, "max": 6000}, {"min": 1200, "max": 6000}])"));
  ASSERT_EQ(f.setMode(1, {0, 50, 100}), std::nullopt);
  EXPECT_EQ(f.targets(), (std::vector{1200.0, 3600.0, 6000.0}));
  EXPECT_EQ(f.sleeper->requests().front(), 200ms);

  // Out-of-range percentages from a peer never leave the fan's range.
  ASSERT_EQ(f.setMode(1, {150, -20}), std::nullopt);
  EXPECT_EQ(f.targets(), (std::vector{6000.0, 1200.0, 6000.0}));
  EXPECT_TRUE(
      f.capture.contains("[ZephroHelper] Fan 0: pct=150% is outside 0 to 100, clamped to 100%"));
}

TEST(HelperService, ManualFallsBackWhenTheRangeIsUnusable) {
  ServiceFixture f(machineWithFans(
      R"([{"min": 1200, "max": 0}, {"min": 0, "max": 0}, {"min": 7000, "max": 7000}])"));
  f.smc->setKeyBytes("F1Mn", testing::fltBytes(-5.0F));
  ASSERT_EQ(f.setMode(1, {50, 50, 50}), std::nullopt);
  // No maximum: 6500; a maximum not above the minimum: just above it.
  EXPECT_EQ(f.targets(), (std::vector{3850.0, 3250.0, 7000.5}));
  EXPECT_TRUE(f.capture.contains("[ZephroHelper] Fan 0: maxRPM was 0, using fallback 6500.0"));
}

TEST(HelperService, ManualDrivesOnlyFansThatHaveAPercentage) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  using Forced = std::pair<int, std::vector<int>>;
  ASSERT_EQ(f.setMode(1, {40}), std::nullopt);
  EXPECT_EQ(f.forced(), (Forced{0x1, {1, 0}}));
  ASSERT_EQ(f.setMode(1, {40, 60, 80}), std::nullopt);
  EXPECT_EQ(f.forced(), (Forced{0x3, {1, 1}}));
  EXPECT_TRUE(f.capture.linesStartingWith("[ZephroHelper] Fan 2").empty());
}

TEST(HelperService, MaxDrivesEveryFanSystemReleasesThemAndMaxStopsAtTheFirstFailure) {
  ServiceFixture f(machineWithFans(R"([{"min": 1200, "max": 5600}, {"min": 1200, "max": 0}])"));
  ASSERT_EQ(f.setMode(2, {}), std::nullopt);
  EXPECT_EQ(f.targets(), (std::vector{5600.0, 6500.0}));
  EXPECT_EQ(f.smc->forceMask(), 0x3);
  EXPECT_EQ(f.service->currentMode(), FanMode::max);

  ASSERT_EQ(f.setMode(0, {}), std::nullopt);
  EXPECT_EQ(f.service->currentMode(), FanMode::system);
  EXPECT_EQ(f.smc->forceMask(), 0);

  // Max then fails on fan 1: fan 0 stays driven, the mode stays system.
  f.smc->injectFault("F1Tg", smc::Command::writeValue, smc::kIOReturnNotPrivileged);
  const auto error = f.setMode(2, {}).value_or(Error{});
  EXPECT_EQ(error.domain, "SMCErrorDomain");
  EXPECT_EQ(error.code, smc::kIOReturnNotPrivileged);
  EXPECT_EQ(f.smc->fanTarget(0), 5600.0);
  EXPECT_TRUE(f.smc->isFanForced(0));
  EXPECT_EQ(f.service->currentMode(), FanMode::system);
  EXPECT_TRUE(f.capture.contains("[ZephroHelper] setFanMode ERROR: " + error.fullDescription()));
}

TEST(HelperService, UnknownModesUnreadableFansAndFanlessMachinesAnswerErrorsAndTouchNoFan) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  (void)f.fanInfo();
  f.smc->clearCallLog();
  EXPECT_EQ(f.setMode(7, {50}), Error::withDescription("HelperError", 7, "Unknown fan mode 7"));
  EXPECT_EQ(f.writesTo(""), 0);
  EXPECT_EQ(f.service->currentMode(), FanMode::system);
  // An unpatched kernel on a T2 Mac cannot read its fans: the user sees an error, never 0 RPM.
  f.smc->injectFault("F0Ac", smc::Command::readValue, smc::kIOReturnError, 1);
  EXPECT_EQ(f.fanInfo().second,
            Error::withDescription("SMCErrorDomain", smc::kIOReturnError, "Failed to read F0Ac"));

  // "FNum" unreadable: the count is the negated connection handle.
  f.smc->injectFault("FNum", smc::Command::readValue, smc::kIOReturnNotFound);
  const auto count = -static_cast<std::int64_t>(smc::EmulatedUserClient::kConnectionHandle);
  const auto fanless =
      Error::withDescription("HelperError", count, "fanCount is " + std::to_string(count));
  EXPECT_EQ(f.fanInfo(), (std::pair{std::vector<FanInfoDTO>{}, std::optional{fanless}}));
  f.smc->clearCallLog();
  EXPECT_EQ(f.setMode(2, {}), fanless);
  EXPECT_EQ(f.setMode(1, {50, 50}), fanless);
  EXPECT_EQ(f.writesTo(""), 0);
  // Handing fans back is harmless without a fan table and succeeds.
  EXPECT_EQ(f.setMode(0, {}), std::nullopt);
}

TEST(HelperService, RequestsFromTwoConnectionsNeverInterleaveOnTheSmc) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  (void)f.fanInfo();
  // While the max request waits for the firmware, a second request arrives.
  std::future<std::vector<FanInfoDTO>> second;
  std::atomic<bool> secondFinishedDuringFirst{false};
  std::atomic<bool> started{false};
  f.onSleep = [&] {
    if (started.exchange(true)) return;
    second = std::async(std::launch::async, [&] { return f.fanInfo().first; });
    // Without the lock the reader finishes while the override is in progress.
    secondFinishedDuringFirst = second.wait_for(500ms) == std::future_status::ready;
  };
  ASSERT_EQ(f.setMode(2, {}), std::nullopt);
  EXPECT_FALSE(secondFinishedDuringFirst);
  ASSERT_TRUE(second.valid());
  const auto fans = second.get();
  ASSERT_EQ(fans.size(), 2U);
  // It ran after the whole request: mode max.
  EXPECT_EQ(fans[1].mode(), FanMode::max);
}

TEST(HelperService, RootAndItsOwnUserMayChangeTheFansAndOthersOnlyWhatPolkitSays) {
  using Answer = polkit::Decision::Answer;
  const std::string failedClosed =
      "[ZephroHelper] Cannot ask polkit whether uid 4244 may change the fans (no system bus: No "
      "such file or directory); only root and the helper's own user may.";
  const uid_t own = ::geteuid() == 0 ? 4000 : ::geteuid();
  const struct {
    uid_t uid;
    polkit::Decision answer;
    bool authorized;
  } cases[] = {
      {0, {Answer::notAuthorized, {}}, true},
      {own, {Answer::notAuthorized, {}}, true},
      {4242, {Answer::authorized, {}}, true},
      {4243, {Answer::notAuthorized, {}}, false},
      {4244, {Answer::unavailable, "no system bus: No such file or directory"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uid);
    ServiceFixture f(shippedMachine("macbookpro16-1"), own);
    f.authority.answer = c.answer;
    EXPECT_EQ(f.service->authorizeChange({.pid = 1, .startTime = 1, .uid = c.uid}), c.authorized);
    EXPECT_EQ(f.capture.contains(failedClosed), c.uid == 4244);
    // polkit is asked only about users other than root and the helper's own.
    const bool asksPolkit = c.uid != 0 && c.uid != own;
    EXPECT_EQ(f.authority.asked,
              asksPolkit ? std::vector{"com.zephro.helper.control uid " + std::to_string(c.uid)}
                         : std::vector<std::string>{});
    // Whoever may change the fans keeps a slot; polkit's "no" does not take one away
    // from a user at the machine, but these test users have no session.
    EXPECT_EQ(f.service->isPreferredUser(c.uid), c.authorized);
  }
}

TEST(HelperService, AStoppingHelperHandsTheFansBackAndForcesThemNoMore) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  ASSERT_EQ(f.setMode(2, {}), std::nullopt);
  f.service->returnFansBeforeStopping();
  EXPECT_EQ(f.smc->forceMask(), 0);
  EXPECT_EQ(f.setMode(2, {}).value_or(Error{}).code, kHelperStopping);
  EXPECT_EQ(f.smc->forceMask(), 0);
  EXPECT_EQ(f.service->currentMode(), FanMode::system);
}

TEST(HelperService, TheCodeCheckRefusesAPeerWhoseCodeCannotBeResolved) {
  ServiceFixture f(shippedMachine("macbookpro16-1"));
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  xpc::IncomingConnection nobody(pipeEnds[0], {}, std::chrono::steady_clock::now(), 0);
  EXPECT_FALSE(f.service->shouldAcceptNewConnection(nobody));
  EXPECT_TRUE(f.capture.contains(
      "[ZephroHelper] Rejected connection from pid 0: could not resolve caller's code."));
  ::close(pipeEnds[1]);
  EXPECT_EQ(f.opens, 0);
}

}  // namespace
}  // namespace zephro
