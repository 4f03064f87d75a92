#include "helper/SMCWrapperObjC.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/log/Log.h"
#include "platform/smc/ValueCodec.h"
#include "tests/helper/SmcFixture.h"

namespace zephro {
namespace {

using smc::kIOReturnNotFound;
using smc::kIOReturnNotPrivileged;
using testing::EmulatedMachine;
using testing::shippedMachine;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kOpenLine = "[SMCWrapperObjC] initWithError called, connection: 10755";

smc::MachineProfile bareMachine() {
  auto profile = shippedMachine("macbookpro16-1");
  profile.sensors.clear();
  return profile;
}

// Forwards to an emulated client and counts what the wrapper does with its handle.
class CountingClient final : public smc::UserClient {
 public:
  CountingClient(std::unique_ptr<smc::UserClient> inner, int& closes)
      : inner_(std::move(inner)), closes_(closes) {}
  std::uint32_t open() override { return inner_->open(); }
  smc::KernReturn callStructMethod(std::uint32_t connection, std::uint32_t selector,
                                   std::span<const std::byte> input,
                                   std::span<std::byte> output) override {
    return inner_->callStructMethod(connection, selector, input, output);
  }
  void close(std::uint32_t connection) override {
    ++closes_;
    inner_->close(connection);
  }
  std::string description() const override { return inner_->description(); }

 private:
  std::unique_ptr<smc::UserClient> inner_;
  int& closes_;
};

TEST(SMCWrapperObjC, OpensTheClientOrReportsWhyNot) {
  log::Capture capture;
  auto smc = std::make_shared<smc::EmulatedSmc>(shippedMachine("macbookpro16-1"));
  int closes = 0;
  auto wrapper = SMCWrapperObjC::create(
      std::make_unique<CountingClient>(std::make_unique<smc::EmulatedUserClient>(smc), closes),
      std::make_shared<RecordingSleeper>());
  ASSERT_NE(wrapper, nullptr);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{kOpenLine});
  wrapper.reset();
  EXPECT_EQ(closes, 1);

  capture.clear();
  Error error;
  EXPECT_EQ(SMCWrapperObjC::create(smc::makeUserClient(""), nullptr, &error), nullptr);
  EXPECT_EQ(error,
            Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC."));
  EXPECT_EQ(SMCWrapperObjC::create(smc::makeUserClient("emulated:nosuchmac"), nullptr), nullptr);
  EXPECT_EQ(SMCWrapperObjC::create(nullptr, nullptr), nullptr);
  EXPECT_EQ(
      capture.linesStartingWith("[SMCWrapperObjC] initWithError called, connection: 0").size(), 3U);
}

TEST(SMCWrapperObjC, PrimitivesExchangeBlocksWithTheSmcsOwnSizeAndType) {
  EmulatedMachine machine(bareMachine());
  auto& smc = *machine.wrapper;

  SMCKeyValue value;
  value.bytes.fill(0xAA);
  EXPECT_EQ(smc.SMCReadKey("F1Mn", value), 0);
  EXPECT_EQ(value.dataType, smc::kTypeFpe2);
  EXPECT_EQ(smc::decodeFpe2(value.bytes), 2000.0);
  EXPECT_EQ(value.bytes[2], 0) << "a read clears the record first";
  EXPECT_EQ(smc.SMCReadKey("F9Mn", value), kIOReturnNotFound);
  EXPECT_EQ(value.key, smc::packFourCharCode("F9Mn"));
  EXPECT_EQ(value.dataType, 0U);

  // The record's own type is ignored: the SMC's size and type go into the block.
  SMCKeyValue record;
  record.key = smc::packFourCharCode("F0Tg");
  record.dataType = smc::kTypeFlt;
  smc::storeBigEndian16(0x1770, record.bytes);
  machine.smc->clearCallLog();
  EXPECT_EQ(smc.SMCWriteKey(record), 0);
  EXPECT_EQ(machine.smc->fanTarget(0), 1500.0);
  EXPECT_EQ(machine.callsTo("F0Tg"),
            (std::vector<std::pair<int, smc::KernReturn>>{{9, 0}, {6, 0}}));
  record.key = smc::packFourCharCode("F0Mx");
  EXPECT_EQ(smc.SMCWriteKey(record), kIOReturnNotPrivileged);

  // A key's information is asked once, and so is a key the SMC does not have; a lookup
  // that failed otherwise is asked again.
  machine.smc->clearCallLog();
  machine.smc->injectFault("F1Ac", smc::Command::readKeyInfo, smc::kIOReturnError, 1);
  for (int round = 0; round < 3; ++round) {
    (void)smc.SMCReadKey("F0Tg", value);
    (void)smc.SMCReadKey("F1Ac", value);
    EXPECT_EQ(smc.SMCReadKey("F7Ac", value), kIOReturnNotFound);
  }
  EXPECT_EQ(machine.callsTo("F0Tg"),
            (std::vector<std::pair<int, smc::KernReturn>>{{5, 0}, {5, 0}, {5, 0}}));
  EXPECT_EQ(machine.callsTo("F1Ac"), (std::vector<std::pair<int, smc::KernReturn>>{
                                         {9, smc::kIOReturnError}, {9, 0}, {5, 0}, {5, 0}}));
  EXPECT_EQ(machine.callsTo("F7Ac"),
            (std::vector<std::pair<int, smc::KernReturn>>{{9, kIOReturnNotFound}}));
}

TEST(SMCWrapperObjC, ReadFloatKeyDecodesEachTypeAndReadsAnythingElseAsZero) {
  EmulatedMachine machine(bareMachine());
  machine.smc->addKey("Tfp2", "fpe2", Bytes{0x17, 0x70}, false);
  machine.smc->addKey("Tsp1", "sp78", Bytes{0x2D, 0x80}, false);
  machine.smc->addKey("Tflt", "flt ", testing::fltBytes(61.25F), false);
  machine.smc->addKey("Tu16", "ui16", Bytes{0x17, 0x70}, false);

  auto& smc = *machine.wrapper;
  EXPECT_EQ(smc.readFloatKey("Tfp2"), 1500.0);
  EXPECT_EQ(smc.readFloatKey("Tsp1"), 45.5);
  EXPECT_EQ(smc.readFloatKey("Tflt"), 61.25);
  EXPECT_EQ(smc.readFloatKey("Tu16"), 0.0);
  EXPECT_EQ(smc.readFloatKey("Tnone"), 0.0);
}

TEST(SMCWrapperObjC, WriteFloatKeyEncodesByTheKeysTypeAndLogsIt) {
  EmulatedMachine machine(bareMachine());
  machine.smc->addKey("Tsp7", "sp78", Bytes{}, true);
  machine.smc->addKey("Tflt", "flt ", Bytes(4), true);
  machine.smc->addKey("Xu16", "ui16", Bytes{0x12, 0x34}, true);
  machine.smc->addKey("Xu32", "ui32", Bytes{0x12, 0x34, 0x56, 0x78}, true);
  auto& smc = *machine.wrapper;
  log::Capture capture;

  Error error{"untouched", 0, {}};
  EXPECT_TRUE(smc.writeFloatKey("F0Tg", 1500.0, &error));
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(machine.valueOf("F0Tg"), (Bytes{0x17, 0x70}));
  EXPECT_TRUE(smc.writeFloatKey("Tsp7", 200.0, nullptr));
  EXPECT_EQ(machine.valueOf("Tsp7"), (Bytes{0x7F, 0xFF}));
  EXPECT_TRUE(smc.writeFloatKey("Tflt", 2317.5, nullptr));
  EXPECT_EQ(smc.readFloatKey("Tflt"), 2317.5);
  EXPECT_TRUE(smc.writeFloatKey("Xu16", 1500.0, nullptr));
  EXPECT_EQ(machine.valueOf("Xu16"), (Bytes{0x17, 0x70}));
  EXPECT_TRUE(smc.writeFloatKey("Xu32", 1.0, nullptr));
  EXPECT_EQ(machine.valueOf("Xu32"), (Bytes{0x00, 0x04, 0x56, 0x78})) << "the rest stays as read";

  EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                 "[SMCWrapperObjC] writeFloatKey: 'F0Tg' type=fpe2, value=1500.0",
                                 "[SMCWrapperObjC] writeFloatKey: 'Tsp7' type=sp78, value=200.0",
                                 "[SMCWrapperObjC] writeFloatKey: 'Tflt' type=flt, value=2317.5",
                                 // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): long lines
                                 "[SMCWrapperObjC] writeFloatKey: 'Xu16' has unknown dataType "
                                 "0x75693136, trying fpe2 encoding",
                                 "[SMCWrapperObjC] writeFloatKey: 'Xu32' has unknown dataType "
                                 "0x75693332, trying fpe2 encoding",
                             }));
}

TEST(SMCWrapperObjC, WriteFloatKeyFallsBackToFpe2WhenTheKeyCannotBeRead) {
  EmulatedMachine machine(bareMachine());
  auto& smc = *machine.wrapper;
  log::Capture capture;

  // Unreadable but writable: the fallback record goes through.
  machine.smc->injectFault("F0Tg", smc::Command::readValue, smc::kIOReturnError, 1);
  Error error;
  EXPECT_TRUE(smc.writeFloatKey("F0Tg", 3000.0, &error));
  EXPECT_EQ(machine.smc->fanTarget(0), 3000.0);
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{
                "[SMCWrapperObjC] writeFloatKey: Cannot read key 'F0Tg' to detect format (result: "
                "-536870212). Attempting fpe2 fallback."});

  // Absent: the fallback fails too, with the status of its write.
  capture.clear();
  machine.smc->removeKey("F0Tg");
  EXPECT_FALSE(smc.writeFloatKey("F0Tg", 3000.0, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotFound,
                                          "Failed to write F0Tg (fpe2 fallback, read failed)"));
  EXPECT_EQ(capture.lines().size(), 1U);
  EXPECT_FALSE(smc.writeFloatKey("F0Tg", 3000.0, nullptr));

  // Readable but the write is refused.
  capture.clear();
  EXPECT_FALSE(smc.writeFloatKey("F1Mx", 3000.0, &error));
  EXPECT_EQ(error, Error::withDescription("SMCErrorDomain", kIOReturnNotPrivileged,
                                          "Failed to write F1Mx"));
  EXPECT_EQ(
      capture.lines(),
      (std::vector<std::string>{
          "[SMCWrapperObjC] writeFloatKey: 'F1Mx' type=fpe2, value=3000.0",
          "[SMCWrapperObjC] writeFloatKey: SMCWriteKey failed for 'F1Mx' (result: -536870207)"}));
}

TEST(SMCWrapperObjC, FanReadsUseTheFansKeysAndNeverLeaveFourCharacters) {
  EmulatedMachine machine(shippedMachine("macbookpro16-1"));
  auto& smc = *machine.wrapper;
  EXPECT_EQ(smc.fanCount(), 2);
  EXPECT_EQ(smc.fanMinSpeedForIndex(1), 2000.0);
  EXPECT_EQ(smc.fanMaxSpeedForIndex(1), 6100.0);
  EXPECT_NEAR(smc.fanSpeedForIndex(0), machine.smc->fanActual(0), 0.25);
  Error error;
  EXPECT_TRUE(smc.setFanTargetSpeedForIndex(1, 4321.0, &error));
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

  EmulatedMachine fanless(shippedMachine("macbookair10-1"));
  EXPECT_EQ(fanless.wrapper->fanCount(), 0);
  fanless.smc->removeKey("FNum");
  EXPECT_EQ(fanless.wrapper->fanCount(),
            -static_cast<std::int64_t>(smc::EmulatedUserClient::kConnectionHandle));
}

TEST(SMCWrapperObjC, SystemTemperatureTakesTheFirstPlausibleSensorInOrder) {
  auto profile = shippedMachine("macbookair10-1");
  profile.sensors.clear();
  EXPECT_EQ(EmulatedMachine(profile).wrapper->systemTemperature(), 0.0);

  EmulatedMachine machine(profile);
  auto& smc = *machine.wrapper;
  machine.smc->addKey("Te05", "flt ", testing::fltBytes(0.0F), false);
  machine.smc->addKey("Tp01", "flt ", testing::fltBytes(9.9F), false);
  machine.smc->addKey("Tp05", "flt ", testing::fltBytes(150.0F), false);
  machine.smc->addKey("Tp09", "ui16", Bytes{0x00, 0x40}, false);
  machine.smc->addKey("Tp0D", "sp78", Bytes{0x0A, 0x1A}, false);  // 10.1
  machine.smc->addKey("TC0P", "sp78", Bytes{0x32, 0x00}, false);
  machine.smc->clearCallLog();
  EXPECT_NEAR(smc.systemTemperature(), 10.1, 0.01);
  EXPECT_TRUE(machine.callsTo("TC0P").empty()) << "later keys are not read";
  EXPECT_EQ(machine.callsTo("Tp0T").size(), 1U);

  machine.smc->setKeyBytes("Tp0D", Bytes{0x0A, 0x00});  // exactly 10.0: passed over
  EXPECT_EQ(smc.systemTemperature(), 50.0);

  EmulatedMachine intel(shippedMachine("macbookpro16-1"));
  EXPECT_NEAR(intel.wrapper->systemTemperature(), intel.smc->dieTemperature() + 4.0, 0.01)
      << "TC0D comes before TC0P";
}

}  // namespace
}  // namespace zephro
