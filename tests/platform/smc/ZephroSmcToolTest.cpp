#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/smc/EmulatedSmc.h"
#include "tests/support/TempDir.h"

namespace zephro::smc {
namespace {

using zephro::testing::binaryPath;
using zephro::testing::TempDir;

struct Run {
  int status;
  std::string output;
};

Run toolWith(const std::string& arguments) {
  const std::string command =
      binaryPath("tools/zephro-smc/zephro-smc").string() + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  return {::pclose(pipe), output};
}

Run tool(const std::filesystem::path& state, const std::string& arguments) {
  return toolWith("--machine macbookpro16-1 --state '" + state.string() + "' " + arguments);
}

// Two processes on one state file see each other's writes: the tool stands in for
// a test process inspecting the machine a helper drives.
TEST(ZephroSmcTool, SharesTheMachineWithAnotherProcessThroughTheStateFile) {
  TempDir dir;
  const auto state = dir / "smc.json";
  EmulatedSmc helper(MachineProfile::load(
                         zephro::testing::sourcePath("platform/smc/machines/macbookpro16-1.json")),
                     state);

  EXPECT_EQ(tool(state, "write 'FS! ' 0x0002").status, 0);
  EXPECT_EQ(tool(state, "write F1Md 0x01").status, 0);
  EXPECT_EQ(tool(state, "write F1Tg 4000").status, 0);
  EXPECT_EQ(helper.forceMask(), 0x0002);
  EXPECT_TRUE(helper.isFanForced(1));
  EXPECT_EQ(helper.fanTarget(1), 4000.0);

  helper.injectFault("F0Mn", Command::readValue, kIOReturnError);
  const auto read = tool(state, "read F0Mn");
  EXPECT_NE(read.status, 0);
  EXPECT_EQ(read.output, "zephro-smc: cannot read 'F0Mn' (status -536870212)\n");
  const auto fans = tool(state, "fans").output;
  EXPECT_NE(fans.find("fan1: actual="), std::string::npos) << fans;
  EXPECT_NE(fans.find("min=2000.0 max=6100.0 bit=1 mode=1 FORCED"), std::string::npos) << fans;

  const auto wrong = tool(state, "write F0Mx 1");
  EXPECT_EQ(wrong.output,
            "zephro-smc: Error Domain=SMCErrorDomain Code=-536870207 \"Failed to write F0Mx\" "
            "UserInfo={NSLocalizedDescription=Failed to write F0Mx}\n");
}

// With --smc the tool opens the controller as the helper does and reads only what the
// helper reads, so it works the same on every backend.
TEST(ZephroSmcTool, OpensAnyBackendTheHelperCanRun) {
  TempDir dir;
  const auto state = dir / "smc.json";
  const auto fans = toolWith("--smc emulated:macbookpro16-1,state=" + state.string() + " fans");
  EXPECT_EQ(fans.status, 0);
  EXPECT_NE(fans.output.find("\n2 fan(s)\nfan0: "), std::string::npos) << fans.output;
  EXPECT_NE(fans.output.find("min=2000.0 max=6100.0 automatic"), std::string::npos) << fans.output;

  const auto unknown = toolWith("--smc nosuch temp");
  EXPECT_NE(unknown.status, 0);
  EXPECT_EQ(unknown.output,
            "zephro-smc: Could not open connection to AppleSMC. (unknown SMC backend 'nosuch')\n");
  EXPECT_EQ(toolWith("--smc auto --machine macbookpro16-1 fans").status >> 8, 2)
      << "one controller at a time";
}

}  // namespace
}  // namespace zephro::smc
