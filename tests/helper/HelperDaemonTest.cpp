// The real com.zephro.helper on a temporary socket and an emulated machine, driven
// by test clients that are signed (or not) the way the application is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helper/HelperService.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

constexpr auto kWait = 120s;
constexpr const char* kRunning = "[ZephroHelper] XPC listener is running.";

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

struct Spawned {
  pid_t pid = -1;
  int exitStatus = -1;
  std::string output;
};

// Runs argv with stdout (and stderr, when given) redirected to files.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnvironment,
            const std::filesystem::path& out, const std::filesystem::path& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> environment(extraEnvironment);
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  std::vector<char*> env;
  env.reserve(environment.size() + 1);
  for (const auto& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);
  pid_t pid = -1;
  const int result = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(result, 0) << "cannot start " << argv[0];
  return pid;
}

class Helper {
 public:
  explicit Helper(const TempDir& dir)
      : socket_((dir / "helper.sock").string()),
        log_(dir / "helper.log"),
        smc_("emulated:macbookpro16-1,state=" + (dir / "smc-state.json").string()) {}
  ~Helper() { stop(); }

  void start() {
    const auto running = logStartingWith(kRunning).size();
    pid_ = spawn({HELPER_BINARY, "--smc", smc_, "--anchor-key", ZEPHRO_DEV_ANCHOR_KEY},
                 {"ZEPHRO_HELPER_SOCKET=" + socket_}, "/dev/null", log_);
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
      // Logged once the socket is bound. (Probing it would be a refused client of its own.)
      if (logStartingWith(kRunning).size() > running) return;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        FAIL() << "the helper exited: " << readFile(log_);
      }
      std::this_thread::sleep_for(20ms);
    }
    FAIL() << "the helper did not start listening";
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  [[nodiscard]] std::vector<std::string> log() const { return linesOf(readFile(log_)); }
  [[nodiscard]] std::vector<std::string> logStartingWith(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (auto& line : log()) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }
  [[nodiscard]] const std::string& socket() const { return socket_; }

 private:
  std::string socket_;
  std::filesystem::path log_;
  std::string smc_;
  pid_t pid_ = -1;
};

struct HelperDaemon : ::testing::Test {
  // Runs a test client to its end; its output lines and its pid.
  Spawned client(const char* binary, std::vector<std::string> commands) const {
    std::vector<std::string> argv{binary, helper.socket()};
    argv.insert(argv.end(), commands.begin(), commands.end());
    Spawned run;
    const auto out = dir / "client.out";
    run.pid = spawn(argv, {}, out, dir / "client.err");
    int status = 0;
    ::waitpid(run.pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = readFile(out);
    return run;
  }

  TempDir dir;
  Helper helper{dir};
};

TEST_F(HelperDaemon, ServesTheSignedApplicationAndRemembersForcedFansAcrossARestart) {
  helper.start();
  const auto first =
      client(SIGNED_CLIENT, {"version", "fans", "mode", "2", "none", "fans", "mode", "7", "none"});
  EXPECT_EQ(first.exitStatus, 0);
  const auto unknownMode =
      "error " + Error::withDescription("HelperError", 7, "Unknown fan mode 7").fullDescription();
  EXPECT_EQ(linesOf(first.output), (std::vector<std::string>{"version 1.0.1", "fans system,system",
                                                             "ok", "fans max,max", unknownMode}));
  const auto log = helper.log();
  ASSERT_GE(log.size(), 3U);
  EXPECT_EQ(log[0], "[ZephroHelper] Starting privileged helper.");
  EXPECT_EQ(log[1], "[ZephroHelper] XPC listener is running.");
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Accepted"),
            std::vector<std::string>{"[ZephroHelper] Accepted XPC connection from pid " +
                                     std::to_string(first.pid) + "."});
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Opened").size(), 1U);

  // A fresh helper only sees that the fans are forced.
  helper.stop();
  helper.start();
  EXPECT_EQ(linesOf(client(SIGNED_CLIENT, {"fans", "mode", "0", "none", "fans"}).output),
            (std::vector<std::string>{"fans manual,manual", "ok", "fans system,system"}));
}

TEST_F(HelperDaemon, RefusesUnsignedAndForeignClientsBeforeAnyOperation) {
  helper.start();
  const auto unsignedRun = client(UNSIGNED_CLIENT, {"mode", "2", "none"});
  const auto foreignRun = client(FOREIGN_CLIENT, {"mode", "2", "none"});
  EXPECT_EQ(linesOf(unsignedRun.output), std::vector<std::string>{"transport 4099"});
  EXPECT_EQ(linesOf(foreignRun.output), std::vector<std::string>{"transport 4099"});
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Rejected"),
            (std::vector<std::string>{
                "[ZephroHelper] Rejected connection from pid " + std::to_string(unsignedRun.pid) +
                    ": failed code requirement check (status -67062).",
                "[ZephroHelper] Rejected connection from pid " + std::to_string(foreignRun.pid) +
                    ": failed code requirement check (status -67050)."}));
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] setFanMode").empty());
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] Opened").empty());
  // And no fan was touched.
  EXPECT_EQ(linesOf(client(SIGNED_CLIENT, {"fans"}).output),
            std::vector<std::string>{"fans system,system"});
}

TEST_F(HelperDaemon, BrokenFramesCostOnlyTheirOwnConnection) {
  helper.start();
  // One connection stays up while two others send garbage and an oversized frame.
  const auto run = client(SIGNED_CLIENT, {"version", "garbage", "oversized", "version", "fans"});
  EXPECT_EQ(linesOf(run.output), (std::vector<std::string>{"version 1.0.1", "closed", "closed",
                                                           "version 1.0.1", "fans system,system"}));
  const auto pid = std::to_string(run.pid);
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Invalidated"),
            (std::vector<std::string>{
                "[ZephroHelper] Invalidated connection from pid " + pid +
                    ": indefinite or reserved CBOR length.",
                "[ZephroHelper] Invalidated connection from pid " + pid +
                    ": frame of 2147483647 bytes exceeds the limit of 65536 bytes."}));
  EXPECT_EQ(linesOf(client(SIGNED_CLIENT, {"version"}).output),
            std::vector<std::string>{"version 1.0.1"});
}

TEST(HelperExecutable, EmbedsAndPrintsItsInformationPropertyList) {
  TempDir dir;
  const auto pid = spawn({HELPER_BINARY, "--print-info"}, {}, dir / "out", dir / "err");
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto plist = readFile(dir / "out");
  EXPECT_EQ(plist, readFile(testing::sourcePath("helper/Info.plist")));
  EXPECT_NE(plist.find(std::string("<string>") + kClientRequirement + "</string>"),
            std::string::npos);
  // In the file itself, not only in what the program prints.
  EXPECT_NE(readFile(HELPER_BINARY).find(plist), std::string::npos);

  // A mistyped option is a usage error, not a helper running with defaults.
  const auto bad = spawn({HELPER_BINARY, "--smc"}, {}, dir / "out", dir / "err");
  ::waitpid(bad, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 64);
}

}  // namespace
}  // namespace zephro
