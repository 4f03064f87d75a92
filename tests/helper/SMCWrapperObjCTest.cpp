#include "helper/SMCWrapperObjC.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/log/Log.h"
#include "platform/smc/ValueCodec.h"
#include "tests/helper/SmcFixture.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using smc::Command;
using smc::kIOReturnError;
using smc::kIOReturnNotFound;
using smc::kIOReturnNotPrivileged;
using Delays = std::vector<std::chrono::milliseconds>;

std::string wrapperLine(const std::string& text) {
  return "[SMCWrapperObjC] " + text;
}

smc::MachineProfile bareMachine() {
  auto profile = shippedMachine("macbookpro16-1");
  profile.sensors.clear();
  return profile;
}

TEST(SMCWrapperObjC, OpensOnceAndAsksEachKeysInformationOnceUnlessTheLookupFailed) {
  log::Capture capture;
  EmulatedMachine machine(bareMachine());
  auto& smc = *machine.wrapper;
  EXPECT_TRUE(capture.contains(wrapperLine("initWithError called, connection: 10755")));

  // Key information, even a missing key's, is asked once; a lookup failing otherwise is retried.
  SMCKeyValue value;
  machine.smc->injectFault("F1Ac", Command::readKeyInfo, kIOReturnError, 1);
  for (int round = 0; round < 3; ++round) {
    (void)smc.SMCReadKey("F0Tg", value);
    (void)smc.SMCReadKey("F1Ac", value);
    EXPECT_EQ(smc.SMCReadKey("F7Ac", value), kIOReturnNotFound);
  }
  EXPECT_EQ(machine.callsTo("F0Tg"), (Calls{{9, 0}, {5, 0}, {5, 0}, {5, 0}}));
  EXPECT_EQ(machine.callsTo("F1Ac"), (Calls{{9, kIOReturnError}, {9, 0}, {5, 0}, {5, 0}}));
  EXPECT_EQ(machine.callsTo("F7Ac"), (Calls{{9, kIOReturnNotFound}}));
}

TEST(SMCWrapperObjC, FloatKeysAreReadAndWrittenByTheKeysTypeOrAsFpe2WhenUnreadable) {
  EmulatedMachine machine(bareMachine());
  auto& smc = *machine.wrapper;
  const struct {
    const char* key;
    const char* type;
    Bytes before;
    double read;
    double written;
    Bytes after;
  } cases[] = {{"Tsp7", "sp78", {0x2D, 0x80}, 45.5, 200.0, {0x7F, 0xFF}},
               // Other types read as zero and are written as fpe2, the rest staying as read.
               {"Xu32", "ui32", {0x12, 0x34, 0x56, 0x78}, 0.0, 1.0, {0x00, 0x04, 0x56, 0x78}}};
  log::Capture capture;
  Error error{"untouched", 0, {}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    machine.smc->addKey(c.key, c.type, c.before, true);
    EXPECT_EQ(smc.readFloatKey(c.key), c.read);
    EXPECT_TRUE(smc.writeFloatKey(c.key, c.written, &error));
    EXPECT_EQ(error.domain, "untouched");
    EXPECT_EQ(machine.valueOf(c.key), c.after);
  }
  EXPECT_TRUE(capture.contains(
      wrapperLine("writeFloatKey: 'Xu32' has unknown dataType 0x75693332, trying fpe2 encoding")));

  // Unreadable but writable: the fallback record goes through.
  machine.smc->injectFault("F0Tg", Command::readValue, kIOReturnError, 1);
  EXPECT_TRUE(smc.writeFloatKey("F0Tg", 3000.0, &error));
  EXPECT_EQ(machine.smc->fanTarget(0), 3000.0);
  EXPECT_TRUE(capture.contains(
      wrapperLine("writeFloatKey: Cannot read key 'F0Tg' to detect format (result: -536870212). "
                  "Attempting fpe2 fallback.")));

  // Absent: the fallback fails too, with the status of its write.
  machine.smc->removeKey("F0Tg");
  EXPECT_FALSE(smc.writeFloatKey("F0Tg", 3000.0, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotFound,
                                          "Failed to write F0Tg (fpe2 fallback, read failed)"));
}

TEST(SMCWrapperObjC, FanReadsUseTheFansKeysAndNeverLeaveFourCharacters) {
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  auto& smc = *machine.wrapper;
  EXPECT_TRUE(smc.setFanTargetSpeedForIndex(1, 4321.0, nullptr));
  EXPECT_EQ(machine.smc->fanTarget(1), 4321.0);

  // Indices of 10 and more are cut to four characters: fan 10's speed key is "F10A".
  machine.smc->addKey("F10A", "fpe2", Bytes{0x17, 0x70}, false);
  EXPECT_EQ(smc.fanSpeedForIndex(10), 1500.0);
  EXPECT_EQ(fanKeyName("F%dMd", -1), "F-1M");
  EXPECT_EQ(fanKeyName("F%dTg", std::numeric_limits<std::int64_t>::max()), "F922");
  // The whole index counts: 2^32 is not fan 0.
  EXPECT_EQ(fanKeyName("F%dAc", std::int64_t{1} << 32), "F429");
  machine.smc->clearCallLog();
  EXPECT_EQ(smc.fanSpeedForIndex(-1), 0.0);
  EXPECT_EQ(smc.fanMaxSpeedForIndex(std::numeric_limits<std::int64_t>::max()), 0.0);
  EXPECT_FALSE(smc.setFanTargetSpeedForIndex(std::int64_t{1} << 32, 5000.0, nullptr));
  EXPECT_EQ(machine.callsTo("F0Tg").size(), 0U);
}

TEST(SMCWrapperObjC, SystemTemperatureTakesTheFirstPlausibleSensorInOrder) {
  auto profile = shippedMachine("macbookair10-1");
  profile.sensors.clear();
  EXPECT_EQ(EmulatedMachine(profile).wrapper->systemTemperature(), 0.0);

  EmulatedMachine machine(profile);
  auto& smc = *machine.wrapper;
  machine.smc->addKey("Te05", "flt ", fltBytes(0.0F), false);
  machine.smc->addKey("Tp01", "flt ", fltBytes(9.9F), false);
  machine.smc->addKey("Tp05", "flt ", fltBytes(150.0F), false);
  machine.smc->addKey("Tp09", "ui16", Bytes{0x00, 0x40}, false);
  machine.smc->addKey("Tp0D", "sp78", Bytes{0x0A, 0x1A}, false);  // 10.1
  machine.smc->addKey("TC0P", "sp78", Bytes{0x32, 0x00}, false);
  machine.smc->clearCallLog();
  EXPECT_NEAR(smc.systemTemperature(), 10.1, 0.01);
  EXPECT_TRUE(machine.callsTo("TC0P").empty()) << "later keys are not read";
  EXPECT_EQ(machine.callsTo("Tp0T").size(), 1U);

  machine.smc->setKeyBytes("Tp0D", Bytes{0x0A, 0x00});  // exactly 10.0: passed over
  EXPECT_EQ(smc.systemTemperature(), 50.0);
}

TEST(FanOverride, TakesAFanOverWhateverTheMachineLacksOrHolds) {
  const Delays wake{200ms}, retryOnce{200ms, 100ms};
  Delays retries(60, 100ms);
  retries.push_back(200ms);
  auto withoutModeKeys = shippedMachine("macbookpro16-1");
  withoutModeKeys.modeKeyFormat.reset();
  using Prepare = std::function<void(smc::EmulatedSmc&)>;
  const auto intel = shippedMachine("macbookpro16-1");
  const struct {
    const char* name;
    smc::MachineProfile machine;
    Prepare prepare;
    Delays waits;
    int modeWrites;
    std::uint16_t mask;
    bool forced;
    std::string line;
  } cases[] = {
      {"Intel", intel,
       [](auto& smc) {
         smc.setKeyBytes("FS! ", Bytes{0x00, 0x02});
       },
       wake, 1, 0x3, true, "=== Wake Override complete for Fan 0 ==="},
      // The target is written anyway, the fan left half-forced: bit set, mode rejected.
      {"a mode key the firmware's daemon holds", shippedMachine("macmini9-1"), nullptr, retries, 60,
       0x1, false, "Phase3: WARNING \u2014 failed to set manual mode after 60 retries"},
      {"already manual", intel, [](auto& smc) { smc.setKeyBytes("F0Md", Bytes{1}); }, wake, 0, 0x1,
       true, "Phase3: F0Md already in manual mode (attempt 0)"},
      // The bit alone forces a fan without mode keys.
      {"no mode keys", withoutModeKeys, nullptr, wake, 0, 0x1, true,
       "WARNING: Neither F0Md nor F0md is readable \u2014 no mode key found"},
      {"the target write fails once", intel,
       [](auto& smc) { smc.injectFault("F0Tg", Command::writeValue, kIOReturnError, 1); },
       retryOnce, 1, 0x1, true, "Phase5: Retry result: OK"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedMachine machine(c.machine);
    if (c.prepare) c.prepare(*machine.smc);
    machine.smc->clearCallLog();
    log::Capture capture;
    Error error{"untouched", 0, {}};
    ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 4000.0, 200, &error));
    EXPECT_EQ(error.domain, "untouched");
    EXPECT_EQ(machine.sleeper->requests(), c.waits);
    EXPECT_EQ(machine.writesTo("F0Md"), c.modeWrites);
    EXPECT_EQ(machine.smc->fanTarget(0), 4000.0);
    EXPECT_EQ(machine.smc->forceMask(), c.mask);
    EXPECT_EQ(machine.smc->isFanForced(0), c.forced);
    EXPECT_TRUE(capture.contains(wrapperLine(c.line)));
  }
}

TEST(FanOverride, UnlocksAppleSiliconAndHandsTheFanBack) {
  EmulatedMachine machine(shippedMachine("macbookpro18-1"));
  log::Capture capture;
  ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3500.0, 200, nullptr));
  EXPECT_TRUE(capture.contains(wrapperLine("Detected mode key format: F%dmd (lowercase)")));
  EXPECT_EQ(machine.smc->ftst(), 1);
  EXPECT_TRUE(machine.smc->isFanForced(0));
  EXPECT_EQ(machine.smc->fanTarget(0), 3500.0);

  Error error{"untouched", 0, {}};
  EXPECT_TRUE(machine.wrapper->releaseFanOverrideForIndex(0, &error));
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(machine.smc->ftst(), 0);
  EXPECT_EQ(machine.smc->forceMask(), 0);
  // The lower-case mode key is found, and the locked daemon has taken it back at once.
  EXPECT_FALSE(machine.wrapper->isFanUnderManualControlForIndex(0));
  EXPECT_TRUE(capture.contains(wrapperLine(
      "isFanUnderManualControl fan 0: FS!(readable=1 mask=0x0000) modeKey=3 -> SYSTEM")));

  // Clear-all locks the machine again too.
  ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(1, 5000.0, 200, nullptr));
  EXPECT_TRUE(machine.wrapper->clearAllForceBitsWithError(nullptr));
  EXPECT_EQ(machine.smc->ftst(), 0);
  EXPECT_FALSE(machine.smc->isFanForced(1));
}

TEST(FanOverride, RebuildsAnUnreadableMaskAndRollsNothingBackWhenTheTargetFailsTwice) {
  // Rebuilt as ui16 with only this fan's bit; a readable mask keeps its bytes (a wide key: both).
  EmulatedMachine lost(shippedMachine("macbookpro16-1"));
  lost.smc->removeKey("FS! ");
  lost.smc->addKey("FS! ", "hex_", Bytes{0x00, 0x01, 0xAB, 0xCD}, true);
  ASSERT_TRUE(lost.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, nullptr));
  EXPECT_EQ(lost.valueOf("FS! "), (Bytes{0x00, 0x01, 0xAB, 0xCD}));
  lost.smc->injectFault("FS! ", Command::readValue, kIOReturnError, 1);
  ASSERT_TRUE(lost.wrapper->setFanSpeedWithWakeOverrideForIndex(1, 3000.0, 200, nullptr));
  EXPECT_EQ(lost.valueOf("FS! "), (Bytes{0x00, 0x02, 0x00, 0x00}));

  EmulatedMachine twice(shippedMachine("macbookpro16-1"));
  twice.smc->injectFault("F0Tg", Command::writeValue, kIOReturnError, 1);
  twice.smc->injectFault("F0Tg", Command::writeValue, kIOReturnNotPrivileged, 1);
  log::Capture capture;
  Error error;
  EXPECT_FALSE(twice.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotPrivileged,
                                          "Failed to write F0Tg"));
  EXPECT_EQ(twice.writesTo("F0Tg"), 2);
  EXPECT_TRUE(capture.contains(wrapperLine("Phase5: Retry result: FAIL")));
  EXPECT_TRUE(capture.linesStartingWith(wrapperLine("Phase6:")).empty()) << "no verification";
  EXPECT_EQ(twice.smc->forceMask(), 0x0001);
}

TEST(FanOverride, ReleaseAndClearAllHandFansBack) {
  using Forced = std::pair<int, std::vector<int>>;
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  auto& smc = *machine.wrapper;
  ASSERT_TRUE(smc.setFanSpeedWithWakeOverrideForIndex(0, 5000.0, 200, nullptr));
  ASSERT_TRUE(smc.setFanSpeedWithWakeOverrideForIndex(1, 5000.0, 200, nullptr));
  log::Capture capture;
  EXPECT_TRUE(smc.releaseFanOverrideForIndex(0, nullptr));
  EXPECT_EQ(machine.forced(), (Forced{0x0002, {0, 1}}));
  EXPECT_TRUE(capture.contains(wrapperLine("Released override for fan 0, FS! =0x0002")));

  // Release answers YES even when every write fails.
  machine.smc->setKeyBytes("FS! ", Bytes{0x00, 0x03});
  machine.smc->setKeyBytes("F0Md", Bytes{1});
  machine.smc->injectFault("FS! ", Command::writeValue, kIOReturnError);
  machine.smc->injectFault("F0Md", Command::writeValue, kIOReturnError);
  Error error{"untouched", 0, {}};
  EXPECT_TRUE(smc.releaseFanOverrideForIndex(0, &error));
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(machine.smc->forceMask(), 0x0003);

  // Clear-all stops at an unwritable mask before touching any mode key.
  machine.smc->clearCallLog();
  EXPECT_FALSE(smc.clearAllForceBitsWithError(&error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnError,
                                          "Failed to clear FS!  force bitmask"));
  EXPECT_EQ(machine.writesTo("F0Md") + machine.writesTo("F1Md"), 0);
  machine.smc->clearFaults();
  EXPECT_TRUE(smc.clearAllForceBitsWithError(&error));
  EXPECT_EQ(machine.forced(), (Forced{0, {0, 0}}));
}

TEST(FanOverride, ForceBitAndManualModeSwitches) {
  using Forced = std::pair<int, std::vector<int>>;
  EmulatedMachine machine(shippedMachine("macpro7-1"));
  auto& smc = *machine.wrapper;
  EXPECT_TRUE(smc.setForceBitForFanIndex(2, true, nullptr));
  EXPECT_EQ(machine.forced(), (Forced{0x0004, {0, 0, 1, 0}}));
  EXPECT_TRUE(smc.setForceBitForFanIndex(0, true, nullptr));
  EXPECT_TRUE(smc.setForceBitForFanIndex(2, false, nullptr));
  EXPECT_EQ(machine.forced(), (Forced{0x0001, {1, 0, 0, 0}}));
  EXPECT_TRUE(machine.smc->isFanForced(0));

  // An unreadable mask starts from zero.
  machine.smc->injectFault("FS! ", Command::readValue, kIOReturnError, 1);
  machine.smc->injectFault("FS! ", Command::writeValue, kIOReturnNotPrivileged, 1);
  log::Capture capture;
  Error error;
  EXPECT_FALSE(smc.setForceBitForFanIndex(1, true, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotPrivileged,
                                          "Failed to write FS!  force bit for fan 1"));
  EXPECT_TRUE(capture.contains(wrapperLine("Writing FS!  new mask: 0x0002 (fan 1 FORCE_ON)")));

  // Manual mode writes a fresh mask without reading the old one; the type is known from before.
  capture.clear();
  machine.smc->clearCallLog();
  EXPECT_TRUE(smc.setManualMode(true, 3, nullptr));
  EXPECT_EQ(machine.callsTo("FS! "), (Calls{{6, 0}}));
  EXPECT_EQ(machine.forced(), (Forced{0x0007, {1, 1, 1, 0}}));
  EXPECT_TRUE(smc.setManualMode(false, 3, nullptr));
  EXPECT_EQ(machine.forced(), (Forced{0, {0, 0, 0, 0}}));
  EXPECT_TRUE(smc.setManualMode(true, std::numeric_limits<std::int64_t>::max(), nullptr));
  EXPECT_EQ(machine.smc->forceMask(), 0xFFFF);
  EXPECT_TRUE(capture.lines().empty());

  // Nothing written succeeds: NO.
  machine.smc->injectFault("FS! ", Command::writeValue, kIOReturnError);
  machine.smc->injectFault("F0Md", Command::writeValue, kIOReturnError);
  EXPECT_FALSE(smc.setManualMode(true, 1, nullptr));
  EXPECT_TRUE(smc.setManualMode(true, 2, nullptr)) << "F1Md took the write";
}

TEST(FanOverride, FanIndicesWithoutAForceBitTouchNoOtherFan) {
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  auto& smc = *machine.wrapper;
  for (const std::int64_t fan : {-1L, 32L, std::numeric_limits<std::int64_t>::min()}) {
    EXPECT_FALSE(smc.setFanSpeedWithWakeOverrideForIndex(fan, 3000.0, 200, nullptr)) << fan;
    EXPECT_TRUE(smc.releaseFanOverrideForIndex(fan, nullptr));
    EXPECT_TRUE(smc.setForceBitForFanIndex(fan, true, nullptr));
    EXPECT_EQ(machine.smc->forceMask(), 0) << fan;
  }
  // Nor do they borrow another fan's bit; without a bit, fan 0's mode key says manual.
  machine.smc->setKeyBytes("FS! ", Bytes{0xFF, 0xFF});
  machine.smc->setKeyBytes("F0Md", Bytes{1});
  EXPECT_FALSE(smc.isFanUnderManualControlForIndex(-1) || smc.isFanUnderManualControlForIndex(32));
  machine.smc->setKeyBytes("FS! ", Bytes{0x00, 0x00});
  EXPECT_TRUE(smc.isFanUnderManualControlForIndex(0));
  // A negative delay is no wait at all.
  machine.sleeper->clear();
  EXPECT_TRUE(smc.setFanSpeedWithWakeOverrideForIndex(0, 3000.0, -5, nullptr));
  EXPECT_EQ(machine.sleeper->requests(), Delays{0ms});
}

}  // namespace
}  // namespace zephro
