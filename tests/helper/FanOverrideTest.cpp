#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "helper/SMCWrapperObjC.h"
#include "platform/log/Format.h"
#include "platform/log/Log.h"
#include "platform/smc/ValueCodec.h"
#include "tests/helper/SmcFixture.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using smc::Command;
using smc::kIOReturnError;
using smc::kIOReturnNotPrivileged;
using testing::EmulatedMachine;
using testing::shippedMachine;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Delays = std::vector<std::chrono::milliseconds>;

constexpr const char* P = "[SMCWrapperObjC] ";

std::string line(const std::string& text) {
  return P + text;
}

TEST(FanOverride, TakesAnIntelFanOverAndLogsEveryPhase) {
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  machine.smc->setKeyBytes("FS! ", Bytes{0x00, 0x01});
  log::Capture capture;
  Error error{"untouched", 0, {}};

  ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(1, 4000.0, 200, &error));
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(machine.sleeper->requests(), Delays{200ms});
  EXPECT_EQ(capture.lines(),
            (Lines{line("=== Wake Override for Fan 1: target=4000.0 RPM, delay=200ms ==="),
                   line("Detected mode key format: F%dMd (uppercase)"),
                   line("Phase0: Using mode key 'F1Md'"),
                   line("Ftst key not found (result=-536870160) \u2014 likely M5+ or Intel, "
                        "skipping unlock"),
                   line("Phase2: FS!  read OK, current mask=0x0001"),
                   line("Phase2: FS!  write mask=0x0003 result=0 (OK)"),
                   line("Phase3: F1Md set to manual (attempt 0, write result=0)"),
                   line("Phase4: Sleeping 200 ms for SMC firmware wake..."),
                   line("writeFloatKey: 'F1Tg' type=fpe2, value=4000.0"),
                   line("Phase5: F1Tg = 4000.0 RPM, write result: OK"),
                   line("Phase6: Verification read F1Tg = 4000.0 RPM (expected ~4000.0)"),
                   format::printf("%sPhase6: Current actual speed F1Ac = %.1f RPM", P,
                                  machine.wrapper->fanSpeedForIndex(1)),
                   line("=== Wake Override complete for Fan 1 ===")}));
  EXPECT_EQ(machine.smc->forceMask(), 0x0003);
  EXPECT_EQ(machine.smc->modeValue(1), 1);
}

TEST(FanOverride, UnlocksAppleSiliconAndHandsTheFanBack) {
  EmulatedMachine machine(shippedMachine("macbookpro18-1"));
  log::Capture capture;
  ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3500.0, 200, nullptr));
  const auto lines = capture.lines();
  EXPECT_EQ(lines[1], line("Detected mode key format: F%dmd (lowercase)"));
  EXPECT_EQ(lines[2], line("Phase0: Using mode key 'F0md'"));
  EXPECT_EQ(lines[3], line("Ftst=1 write result=0 (OK)"));
  EXPECT_EQ(lines[4], line("Phase2: FS!  read OK, current mask=0x0000"));
  EXPECT_EQ(lines[6], line("Phase3: F0md set to manual (attempt 0, write result=0)"));
  EXPECT_EQ(lines[8], line("writeFloatKey: 'F0Tg' type=flt, value=3500.0"));
  EXPECT_EQ(machine.smc->ftst(), 1);
  EXPECT_TRUE(machine.smc->isFanForced(0));

  capture.clear();
  Error error{"untouched", 0, {}};
  EXPECT_TRUE(machine.wrapper->releaseFanOverrideForIndex(0, &error));
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(capture.lines(),
            (Lines{line("Releasing override for fan 0"), line("Ftst=0 write result=0 (OK)"),
                   line("Released override for fan 0, FS! =0x0000")}));
  EXPECT_EQ(machine.smc->ftst(), 0);
  EXPECT_EQ(machine.smc->forceMask(), 0);
  // The lower-case mode key is found, and the locked daemon has taken it back at once.
  capture.clear();
  EXPECT_FALSE(machine.wrapper->isFanUnderManualControlForIndex(0));
  EXPECT_EQ(capture.lines(), Lines{line("isFanUnderManualControl fan 0: FS!(readable=1 "
                                        "mask=0x0000) modeKey=3 -> SYSTEM")});

  // Clear-all locks the machine again too.
  ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(1, 5000.0, 200, nullptr));
  EXPECT_TRUE(machine.wrapper->clearAllForceBitsWithError(nullptr));
  EXPECT_EQ(machine.smc->ftst(), 0);
  EXPECT_FALSE(machine.smc->isFanForced(1));
}

TEST(FanOverride, KeepsTryingAModeKeyTheDaemonHoldsThenWritesTheTargetAnyway) {
  EmulatedMachine machine(shippedMachine("macmini9-1"));
  log::Capture capture;
  ASSERT_TRUE(machine.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 4000.0, 200, nullptr));

  EXPECT_EQ(machine.writesTo("F0Md"), 60);
  Delays expected(60, 100ms);
  expected.push_back(200ms);
  EXPECT_EQ(machine.sleeper->requests(), expected);
  EXPECT_EQ(capture.linesStartingWith(line("Phase3:")),
            (Lines{line("Phase3: Mode write rejected (mode still 3), retrying (thermalmonitord may "
                        "be holding mode 3)..."),
                   line("Phase3: WARNING \u2014 failed to set manual mode after 60 retries")}));
  EXPECT_EQ(machine.smc->fanTarget(0), 4000.0);
  EXPECT_EQ(machine.smc->forceMask(), 0x0001) << "left half-forced: bit set, mode rejected";
  EXPECT_FALSE(machine.smc->isFanForced(0));
}

TEST(FanOverride, SkipsWhatTheMachineDoesNotHave) {
  // Already manual: no mode write at all.
  EmulatedMachine manual(shippedMachine("macbookpro16-1"));
  manual.smc->setKeyBytes("F0Md", Bytes{1});
  manual.smc->clearCallLog();
  log::Capture capture;
  ASSERT_TRUE(manual.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, nullptr));
  EXPECT_EQ(capture.linesStartingWith(line("Phase3:")),
            Lines{line("Phase3: F0Md already in manual mode (attempt 0)")});
  EXPECT_EQ(manual.writesTo("F0Md"), 0);

  // No mode key at all: the upper-case name is tried and the sequence goes on.
  auto profile = shippedMachine("macbookpro16-1");
  profile.modeKeyFormat.reset();
  EmulatedMachine bare(profile);
  capture.clear();
  ASSERT_TRUE(bare.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, nullptr));
  const auto lines = capture.lines();
  EXPECT_EQ(lines[1], line("WARNING: Neither F0Md nor F0md is readable \u2014 no mode key found"));
  EXPECT_EQ(lines[2], line("Phase0: Using mode key 'F0Md'"));
  EXPECT_EQ(capture.linesStartingWith(line("Phase3:")),
            (Lines{line("Phase3: F0Md not readable (result=-536870160), skipping mode set"),
                   line("Phase3: WARNING \u2014 failed to set manual mode after 60 retries")}));
  EXPECT_EQ(bare.sleeper->requests(), Delays{200ms});
  EXPECT_TRUE(bare.smc->isFanForced(0)) << "the bit alone forces a fan without mode keys";

  // An unreadable force mask is rebuilt from scratch: ui16, only this fan's bit, the
  // rest zero. A readable one keeps the bytes it had. (A wide mask key shows both.)
  EmulatedMachine lost(shippedMachine("macbookpro16-1"));
  lost.smc->removeKey("FS! ");
  lost.smc->addKey("FS! ", "hex_", Bytes{0x00, 0x01, 0xAB, 0xCD}, true);
  ASSERT_TRUE(lost.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, nullptr));
  EXPECT_EQ(lost.valueOf("FS! "), (Bytes{0x00, 0x01, 0xAB, 0xCD}));
  lost.smc->injectFault("FS! ", Command::readValue, kIOReturnError, 1);
  capture.clear();
  ASSERT_TRUE(lost.wrapper->setFanSpeedWithWakeOverrideForIndex(1, 3000.0, 200, nullptr));
  EXPECT_EQ(capture.linesStartingWith(line("Phase2:")),
            (Lines{line("Phase2: FS!  read FAILED (-536870212), constructing mask from scratch"),
                   line("Phase2: FS!  write mask=0x0002 result=0 (OK)")}));
  EXPECT_EQ(lost.valueOf("FS! "), (Bytes{0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(lost.smc->forceMask(), 0x0002);
}

TEST(FanOverride, FailsOnlyWhenTheTargetWriteFailsTwice) {
  EmulatedMachine once(shippedMachine("macbookpro16-1"));
  once.smc->injectFault("F0Tg", Command::writeValue, kIOReturnError, 1);
  log::Capture capture;
  ASSERT_TRUE(once.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, nullptr));
  EXPECT_EQ(once.sleeper->requests(), (Delays{200ms, 100ms}));
  EXPECT_TRUE(capture.contains(line("Phase5: Retry result: OK")));
  EXPECT_EQ(once.smc->fanTarget(0), 3000.0);

  EmulatedMachine twice(shippedMachine("macbookpro16-1"));
  twice.smc->injectFault("F0Tg", Command::writeValue, kIOReturnError, 1);
  twice.smc->injectFault("F0Tg", Command::writeValue, kIOReturnNotPrivileged, 1);
  capture.clear();
  Error error;
  EXPECT_FALSE(twice.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 3000.0, 200, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotPrivileged,
                                          "Failed to write F0Tg"));
  const auto lines = capture.lines();
  const Lines tail(lines.end() - 7, lines.end());
  EXPECT_EQ(tail, (Lines{line("writeFloatKey: 'F0Tg' type=fpe2, value=3000.0"),
                         line("writeFloatKey: SMCWriteKey failed for 'F0Tg' (result: -536870212)"),
                         line("Phase5: F0Tg = 3000.0 RPM, write result: FAIL"),
                         line("Phase5: Write failed, retrying after 100ms..."),
                         line("writeFloatKey: 'F0Tg' type=fpe2, value=3000.0"),
                         line("writeFloatKey: SMCWriteKey failed for 'F0Tg' (result: -536870207)"),
                         line("Phase5: Retry result: FAIL")}));
  EXPECT_TRUE(capture.linesStartingWith(line("Phase6:")).empty());
  EXPECT_EQ(twice.smc->forceMask(), 0x0001) << "nothing is rolled back";
}

TEST(FanOverride, ManualControlTestLooksAtTheBitThenTheModeKey) {
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  auto& smc = *machine.wrapper;
  log::Capture capture;

  machine.smc->setKeyBytes("FS! ", Bytes{0x00, 0x01});
  machine.smc->clearCallLog();
  EXPECT_TRUE(smc.isFanUnderManualControlForIndex(0));
  EXPECT_TRUE(machine.callsTo("F0Md").empty());
  machine.smc->setKeyBytes("FS! ", Bytes{0x00, 0x00});
  machine.smc->setKeyBytes("F0Md", Bytes{1});
  EXPECT_TRUE(smc.isFanUnderManualControlForIndex(0));
  machine.smc->setKeyBytes("F0Md", Bytes{3});
  EXPECT_FALSE(smc.isFanUnderManualControlForIndex(0));
  EXPECT_FALSE(smc.isFanUnderManualControlForIndex(7));
  // Indices without a bit of their own never borrow another fan's.
  machine.smc->setKeyBytes("FS! ", Bytes{0xFF, 0xFF});
  EXPECT_FALSE(smc.isFanUnderManualControlForIndex(32));
  EXPECT_FALSE(smc.isFanUnderManualControlForIndex(-1));
  EXPECT_EQ(
      capture.lines(),
      (Lines{
          line("isFanUnderManualControl fan 0: FS!(readable=1 mask=0x0001) modeKey=-1 -> MANUAL"),
          line("isFanUnderManualControl fan 0: FS!(readable=1 mask=0x0000) modeKey=1 -> MANUAL"),
          line("isFanUnderManualControl fan 0: FS!(readable=1 mask=0x0000) modeKey=3 -> SYSTEM"),
          line("isFanUnderManualControl fan 7: FS!(readable=1 mask=0x0000) modeKey=-1 -> SYSTEM"),
          line("isFanUnderManualControl fan 32: FS!(readable=1 mask=0xFFFF) modeKey=-1 -> SYSTEM"),
          line("isFanUnderManualControl fan -1: FS!(readable=1 mask=0xFFFF) modeKey=-1 -> "
               "SYSTEM")}));

  EmulatedMachine fanless(shippedMachine("macbookair10-1"));
  capture.clear();
  EXPECT_FALSE(fanless.wrapper->isFanUnderManualControlForIndex(0));
  EXPECT_EQ(capture.lines(), Lines{line("isFanUnderManualControl fan 0: FS!(readable=0 "
                                        "mask=0x0000) modeKey=-1 -> SYSTEM")});
}

TEST(FanOverride, ReleaseAndClearAllHandFansBack) {
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  auto& smc = *machine.wrapper;
  ASSERT_TRUE(smc.setFanSpeedWithWakeOverrideForIndex(0, 5000.0, 200, nullptr));
  ASSERT_TRUE(smc.setFanSpeedWithWakeOverrideForIndex(1, 5000.0, 200, nullptr));
  EXPECT_EQ(machine.smc->forceMask(), 0x0003);

  log::Capture capture;
  EXPECT_TRUE(smc.releaseFanOverrideForIndex(0, nullptr));
  EXPECT_EQ(machine.smc->forceMask(), 0x0002);
  EXPECT_EQ(machine.smc->modeValue(0), 0);
  EXPECT_EQ(machine.smc->modeValue(1), 1);
  EXPECT_EQ(capture.lines(), (Lines{line("Releasing override for fan 0"),
                                    line("Released override for fan 0, FS! =0x0002")}));

  // Release answers YES even when every write fails.
  machine.smc->setKeyBytes("FS! ", Bytes{0x00, 0x03});
  machine.smc->setKeyBytes("F0Md", Bytes{1});
  machine.smc->injectFault("FS! ", Command::writeValue, kIOReturnError);
  machine.smc->injectFault("F0Md", Command::writeValue, kIOReturnError);
  capture.clear();
  Error error{"untouched", 0, {}};
  EXPECT_TRUE(smc.releaseFanOverrideForIndex(0, &error));
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(capture.lines().back(), line("Released override for fan 0, FS! =0x0002"));
  EXPECT_EQ(machine.smc->forceMask(), 0x0003);

  // Clear-all stops at an unwritable mask before touching any mode key.
  machine.smc->clearCallLog();
  capture.clear();
  EXPECT_FALSE(smc.clearAllForceBitsWithError(&error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnError,
                                          "Failed to clear FS!  force bitmask"));
  EXPECT_EQ(capture.lines(),
            (Lines{line("Clearing all FS!  force bits (returning to system control)"),
                   line("Failed to clear FS!  (result: -536870212)")}));
  EXPECT_EQ(machine.writesTo("F0Md") + machine.writesTo("F1Md"), 0);

  machine.smc->clearFaults();
  EXPECT_TRUE(smc.clearAllForceBitsWithError(&error));
  EXPECT_EQ(machine.smc->forceMask(), 0);
  EXPECT_EQ(machine.smc->modeValue(0), 0);
  EXPECT_EQ(machine.smc->modeValue(1), 0);
  EXPECT_FALSE(machine.smc->isFanForced(1));
}

TEST(FanOverride, ForceBitAndManualModeSwitches) {
  EmulatedMachine machine(shippedMachine("macpro7-1"));
  auto& smc = *machine.wrapper;
  log::Capture capture;

  EXPECT_TRUE(smc.setForceBitForFanIndex(2, true, nullptr));
  EXPECT_TRUE(smc.setForceBitForFanIndex(0, true, nullptr));
  EXPECT_TRUE(smc.setForceBitForFanIndex(2, false, nullptr));
  EXPECT_EQ(capture.lines(),
            (Lines{line("Read FS!  current mask: 0x0000"),
                   line("Writing FS!  new mask: 0x0004 (fan 2 FORCE_ON)"),
                   line("F2Md set to 1 (result: 0)"), line("Read FS!  current mask: 0x0004"),
                   line("Writing FS!  new mask: 0x0005 (fan 0 FORCE_ON)"),
                   line("F0Md set to 1 (result: 0)"), line("Read FS!  current mask: 0x0005"),
                   line("Writing FS!  new mask: 0x0001 (fan 2 FORCE_OFF)"),
                   line("F2Md set to 0 (result: 0)")}));
  EXPECT_TRUE(machine.smc->isFanForced(0));

  machine.smc->injectFault("FS! ", Command::readValue, kIOReturnError, 1);
  machine.smc->injectFault("FS! ", Command::writeValue, kIOReturnNotPrivileged, 1);
  capture.clear();
  Error error;
  EXPECT_FALSE(smc.setForceBitForFanIndex(1, true, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotPrivileged,
                                          "Failed to write FS!  force bit for fan 1"));
  EXPECT_EQ(capture.lines(),
            (Lines{line("Could not read FS! , starting with mask 0x0000 (result: -536870212)"),
                   line("Writing FS!  new mask: 0x0002 (fan 1 FORCE_ON)"),
                   line("Failed to write FS!  for fan 1 (result: -536870207)")}));

  // Manual mode writes a fresh mask without reading the old one, and logs nothing; the
  // key's type is known from before.
  capture.clear();
  machine.smc->clearCallLog();
  EXPECT_TRUE(smc.setManualMode(true, 3, nullptr));
  EXPECT_EQ(machine.smc->forceMask(), 0x0007);
  EXPECT_EQ(machine.callsTo("FS! "), (std::vector<std::pair<int, smc::KernReturn>>{{6, 0}}));
  EXPECT_EQ(machine.smc->modeValue(2), 1);
  EXPECT_EQ(machine.smc->modeValue(3), 0);
  EXPECT_TRUE(smc.setManualMode(false, 3, nullptr));
  EXPECT_EQ(machine.smc->forceMask(), 0x0000);
  EXPECT_EQ(machine.smc->modeValue(0), 0);
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
  for (const std::int64_t fan :
       {std::int64_t{-1}, std::int64_t{32}, std::numeric_limits<std::int64_t>::min()}) {
    EXPECT_FALSE(smc.setFanSpeedWithWakeOverrideForIndex(fan, 3000.0, 200, nullptr)) << fan;
    EXPECT_EQ(machine.smc->forceMask(), 0) << fan;
    EXPECT_TRUE(smc.releaseFanOverrideForIndex(fan, nullptr));
    EXPECT_TRUE(smc.setForceBitForFanIndex(fan, true, nullptr));
    EXPECT_EQ(machine.smc->forceMask(), 0) << fan;
  }
  // A negative delay is no wait at all.
  machine.sleeper->clear();
  EXPECT_TRUE(smc.setFanSpeedWithWakeOverrideForIndex(0, 3000.0, -5, nullptr));
  EXPECT_EQ(machine.sleeper->requests(), Delays{0ms});
}

}  // namespace
}  // namespace zephro
