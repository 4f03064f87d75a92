#include "platform/servicemanager/CommandRunner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/TempDir.h"

namespace zephro {
namespace {

std::string waitForContent(const std::filesystem::path& file) {
  // Generous: the detached process runs on its own, on a loaded machine.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find("done") != std::string::npos) return text.str();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

TEST(ProcessCommandRunner, RunsToTheEndWithOutputAndExitStatus) {
  ProcessCommandRunner runner;
  const auto result = runner.run({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.output, "out\nerr\n");
  EXPECT_EQ(runner.run({"sh", "-c", "kill -TERM $$"}).exitCode, 128 + SIGTERM);
  const auto missing = runner.run({"zephro-no-such-program"});
  EXPECT_EQ(missing.exitCode, -1);
  EXPECT_EQ(missing.output, "could not start zephro-no-such-program: No such file or directory");
}

TEST(ProcessCommandRunner, StartsDetachedProcessesInTheirOwnSession) {
  testing::TempDir dir;
  ProcessCommandRunner runner;
  DetachedLaunch launch;
  launch.argv = {"sh", "-c", "echo \"$ZEPHRO_PROBE $(cut -d' ' -f4,6 /proc/$$/stat)\"; echo done"};
  launch.environment = {{"ZEPHRO_PROBE", "probe-value"}};
  launch.outputFile = dir / "out.log";
  const auto started = runner.startDetached(launch);
  ASSERT_GT(started.pid, 0) << started.error;
  const auto output = waitForContent(launch.outputFile);
  std::istringstream fields(output);
  std::string probe;
  pid_t parent = 0;
  pid_t session = 0;
  fields >> probe >> parent >> session;
  EXPECT_EQ(probe, "probe-value");
  EXPECT_NE(parent, getpid()) << "the process must not be this process's child";
  EXPECT_NE(session, getsid(0)) << "it must be in a session of its own";

  const auto missing = runner.startDetached({{"/nonexistent/zephro-helper"}, {}, {}});
  EXPECT_EQ(missing.pid, -1);
  EXPECT_EQ(missing.error, "could not start /nonexistent/zephro-helper: No such file or directory");
  const auto notInPath = runner.startDetached({{"zephro-no-such-program"}, {}, {}});
  EXPECT_EQ(notInPath.error, "zephro-no-such-program was not found");
  const auto notExecutable = runner.startDetached({{launch.outputFile.string()}, {}, {}});
  EXPECT_EQ(notExecutable.pid, -1);
  EXPECT_EQ(notExecutable.error,
            "could not start " + launch.outputFile.string() + ": Permission denied");

  // A link in the log's place is not written through.
  const auto linked = dir / "linked.log";
  std::filesystem::create_symlink(launch.outputFile, linked);
  const auto throughLink = runner.startDetached({{"sh", "-c", "echo written"}, {}, linked});
  EXPECT_EQ(throughLink.pid, -1);
  EXPECT_EQ(throughLink.error, linked.string() + ": Too many levels of symbolic links");
}

}  // namespace
}  // namespace zephro
