#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <system_error>

#include "platform/log/Log.h"
#include "tests/platform/smc/SmcCalls.h"
#include "tests/support/TempDir.h"

namespace zephro::smc {
namespace {

using namespace testing;
using zephro::testing::readFile;
using zephro::testing::TempDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

MachineProfile machine(const std::string& name) {
  return MachineProfile::load(
      zephro::testing::sourcePath("platform/smc/machines/" + name + ".json"));
}

TEST(ValueCodec, Fpe2RoundsTowardZeroAndClampsToItsRange) {
  EXPECT_EQ(decodeFpe2(Bytes{0xFF, 0xFF}), 16383.75);
  const std::pair<double, std::uint16_t> cases[] = {
      {1500.0, 0x1770}, {1500.9, 0x1773}, {20000.0, 0xFFFF}, {-5.0, 0},
      {0.24, 0},        {kNaN, 0},        {kInf, 0xFFFF},    {-kInf, 0}};
  for (const auto& [rpm, raw] : cases) EXPECT_EQ(encodeFpe2(rpm), raw) << rpm;
}

TEST(ValueCodec, Sp78IsSignedAndClampsBothWays) {
  EXPECT_EQ(decodeSp78(Bytes{0xFF, 0x00}), -1.0);
  // -0.001 truncates toward zero, not toward minus infinity.
  const std::pair<double, std::uint16_t> cases[] = {
      {-200.0, 0x8000}, {-0.001, 0}, {kNaN, 0}, {kInf, 0x7FFF}, {-kInf, 0x8000}};
  for (const auto& [celsius, raw] : cases) EXPECT_EQ(encodeSp78(celsius), raw) << celsius;
}

TEST(ValueCodec, FltOverflowsToInfinityAndKeepsNaN) {
  EXPECT_TRUE(std::isnan(narrowToFloat(kNaN)));
  EXPECT_EQ(narrowToFloat(1e39), std::numeric_limits<float>::infinity());
  EXPECT_EQ(narrowToFloat(-1e39), -std::numeric_limits<float>::infinity());
  Bytes bytes{0, 0, 0, 0};
  storeFlt(2500.5, bytes);
  EXPECT_EQ(decodeFlt(bytes), 2500.5);
}

TEST(EmulatedSmc, RefusesCallsAndBlocksTheFirmwareWouldRefuse) {
  auto smc = std::make_shared<EmulatedSmc>(machine("macbookpro16-1"), std::nullopt,
                                           std::make_shared<ManualClock>());
  EmulatedUserClient client(smc);
  const SMCParamBlock block = paramBlock(kCommandReadKeyInfo, "FNum", 0, {});
  std::array<std::byte, kParamBlockSize> in{};
  std::memcpy(in.data(), &block, in.size());
  std::array<std::byte, kParamBlockSize> out{};

  const auto handle = EmulatedUserClient::kConnectionHandle;
  EXPECT_EQ(client.callStructMethod(handle, 2, in, out), kIOReturnNotOpen);
  ASSERT_EQ(client.open(), handle);
  EXPECT_EQ(client.callStructMethod(handle + 1, 2, in, out), kIOReturnNotOpen);
  EXPECT_EQ(client.callStructMethod(handle, 3, in, out), kIOReturnBadArgument);
  EXPECT_EQ(client.callStructMethod(handle, 2, std::span(in).first(79), out), kIOReturnBadArgument);
  EXPECT_EQ(client.callStructMethod(handle, 2, in, std::span(out).first(40)), kIOReturnBadArgument);
  EXPECT_EQ(smc->callCount(), 0U);

  // Key reads, read-only and missing keys are the SMCWrapperObjC tests' (tests/helper).
  EXPECT_EQ(info(client, "FNum").block.keyInfo.dataSize, 1U);
  EXPECT_EQ(send(client, kCommandWriteValue, "ZZZZ", 1).status, kIOReturnNotFound);
  // A block whose size disagrees with the key's is refused, as is an unknown command.
  EXPECT_EQ(send(client, kCommandReadValue, "F0Tg", 4).status, kIOReturnBadArgument);
  EXPECT_EQ(send(client, kCommandWriteValue, "F0Tg", 1, fpe2(3000)).status, kIOReturnBadArgument);
  EXPECT_EQ(send(client, 8, "F0Tg", 2).status, kIOReturnBadArgument);
  // The call log (whose records the helper tests read) keeps only its capacity.
  smc->setCallLogCapacity(2);
  EXPECT_EQ(smc->callLog().size(), 2U);

  EXPECT_EQ(client.description(), "emulated SMC: MacBookPro16,1 (profile macbookpro16-1)");
  client.close(handle);
  EXPECT_EQ(client.callStructMethod(handle, 2, in, out), kIOReturnNotOpen);
}

TEST(MachineProfile, RejectsProfilesTheEmulatorCouldNotRun) {
  const std::pair<const char*, const char*> cases[] = {
      {"{", "not valid JSON"},
      {"{}", "\"model\" is missing"},
      {R"({"model":"X","modeKey":"F%dXX"})", "\"modeKey\" must be \"F%dMd\", \"F%dmd\" or null"},
      {R"({"model":"X","fans":[{},{},{},{},{},{},{},{},{},{},{}]})",
       "at most 10 fans fit the SMC's key names"},
      {R"({"model":"X","fans":[{"min":-1}]})",
       "fan speeds must not be negative and \"physicalMax\" must be positive"},
      {R"({"model":"X","thermal":{"timeConstant":0}})",
       "\"thermal\" needs cooling >= 0, timeConstant > 0 and curveHigh > curveLow"}};
  for (const auto& [json, why] : cases) {
    EXPECT_THAT([&] { (void)MachineProfile::fromJson(json); },
                ::testing::ThrowsMessage<std::runtime_error>(why));
  }
}

TEST(EmulatedSmc, NeverFollowsALinkInPlaceOfItsFiles) {
  // Each case links a state file name to someone else's file; "@" stands for the link.
  struct Case {
    std::string suffix, thrown, logged;
  };
  const std::string loop = "@: Too many levels of symbolic links";
  const Case cases[] = {
      {"", "", "[EmulatedSmc] Ignoring unreadable state file @"},
      {".lock", "cannot open " + loop, ""},
      {".tmp." + std::to_string(getpid()), "",
       "[EmulatedSmc] Cannot save state: cannot create " + loop},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const auto state = dir / "smc.json";
    const auto linked = state.string() + c.suffix;
    const auto at = [&linked](std::string text) {
      if (const auto mark = text.find('@'); mark != std::string::npos)
        text.replace(mark, 1, linked);
      return text;
    };
    std::ofstream(dir / "victim") << "someone else's";
    std::filesystem::create_symlink(dir / "victim", linked);
    log::Capture capture;
    std::string thrown;
    try {
      const EmulatedSmc smc(machine("macbookpro16-1"), state, std::make_shared<ManualClock>());
      EXPECT_TRUE(capture.contains(at(c.logged))) << linked;
      EXPECT_FALSE(std::filesystem::is_symlink(state)) << "a linked state file is replaced";
    } catch (const std::system_error& error) {
      thrown = error.what();
    }
    EXPECT_EQ(thrown, at(c.thrown));
    EXPECT_EQ(readFile(dir / "victim"), "someone else's") << linked;
  }
}

TEST(UserClientFactory, OpensOnlyABackendItCanLoad) {
  TempDir dir;
  const auto broken = dir / "broken.json";
  std::ofstream(broken) << "{}";
  const auto gone = (dir / "gone").string();
  const std::pair<std::string, std::string> failures[] = {
      {"", "no SMC backend configured"},
      {"applesmc:" + gone, "applesmc at " + gone + ": cannot open it (No such file or directory)"},
      {"macsmc:", "macsmc-hwmon needs a directory"},
      {"auto:", "auto needs a sysfs root after ':'"},
      {"nosuch:x", "unknown SMC backend 'nosuch:x'"},
      {"emulated:nosuchmac", "machine profile 'nosuchmac' not found"},
      {"emulated:macbookpro16-1,speed=2", "unknown emulated SMC option 'speed=2'"},
      {"emulated:" + broken.string(),
       "machine profile " + broken.string() + ": \"model\" is missing"},
  };
  for (const auto& [backend, why] : failures) {
    auto client = makeUserClient(backend);
    EXPECT_EQ(client->open(), 0U) << backend;
    EXPECT_EQ(client->description(), why);
  }

  const auto state = dir / "state.json";
  auto client = makeUserClient("emulated:macmini9-1,state=" + state.string());
  EXPECT_EQ(client->open(), EmulatedUserClient::kConnectionHandle);
  EXPECT_EQ(client->description(),
            "emulated SMC: Macmini9,1 (profile macmini9-1, state " + state.string() + ")");
}

struct Run {
  int status;
  std::string output;
};

Run tool(const std::string& arguments) {
  const auto command = zephro::testing::binaryPath("tools/zephro-smc/zephro-smc").string() + " " +
                       arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  std::array<char, 256> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  return {::pclose(pipe), output};
}

// With --smc the tool reads only what the helper reads, so it works the same on every backend.
TEST(ZephroSmcTool, SharesTheMachineThroughTheStateFileAndOpensAnyBackendTheHelperCanRun) {
  TempDir dir;
  const auto state = dir / "smc.json";
  EmulatedSmc helper(machine("macbookpro16-1"), state);
  const auto on = "--machine macbookpro16-1 --state '" + state.string() + "' ";

  for (const char* write : {"write 'FS! ' 0x0002", "write F1Md 0x01", "write F1Tg 4000"}) {
    EXPECT_EQ(tool(on + write).status, 0) << write;
  }
  EXPECT_EQ(helper.forceMask(), 0x0002);
  EXPECT_TRUE(helper.isFanForced(1));
  EXPECT_EQ(helper.fanTarget(1), 4000.0);

  helper.injectFault("F0Mn", Command::readValue, kIOReturnError);
  const auto failed = tool(on + "read F0Mn");
  EXPECT_NE(failed.status, 0);
  EXPECT_EQ(failed.output, "zephro-smc: cannot read 'F0Mn' (status -536870212)\n");
  const auto fans = tool(on + "fans").output;
  EXPECT_NE(fans.find("fan1: actual="), std::string::npos) << fans;
  EXPECT_NE(fans.find("min=2000.0 max=6100.0 bit=1 mode=1 FORCED"), std::string::npos) << fans;
  EXPECT_EQ(tool(on + "write F0Mx 1").output,
            "zephro-smc: Error Domain=SMCErrorDomain Code=-536870207 \"Failed to write F0Mx\" "
            "UserInfo={NSLocalizedDescription=Failed to write F0Mx}\n");

  const auto other =
      tool("--smc emulated:macbookpro16-1,state=" + (dir / "b.json").string() + " fans");
  EXPECT_EQ(other.status, 0);
  EXPECT_NE(other.output.find("\n2 fan(s)\nfan0: "), std::string::npos) << other.output;
  EXPECT_NE(other.output.find("min=2000.0 max=6100.0 automatic"), std::string::npos)
      << other.output;
  const auto unknown = tool("--smc nosuch temp");
  EXPECT_NE(unknown.status, 0);
  EXPECT_EQ(unknown.output,
            "zephro-smc: Could not open connection to AppleSMC. (unknown SMC backend 'nosuch')\n");
  EXPECT_EQ(tool("--smc auto --machine macbookpro16-1 fans").status >> 8, 2)
      << "one controller at a time";
}

}  // namespace
}  // namespace zephro::smc
