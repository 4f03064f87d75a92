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
#include "helper/Sleeper.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/SignatureTrailer.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/smc/UserClient.h"
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
        state_(dir / "smc-state.json"),
        smc_("emulated:macbookpro16-1,state=" + state_.string()) {}
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

  void stop(int signal = SIGTERM) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
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

  // Waits until the log holds `count` lines that start with `prefix`.
  std::vector<std::string> waitForLog(const std::string& prefix, std::size_t count = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (logStartingWith(prefix).size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    return logStartingWith(prefix);
  }

  std::string waitForFirmware(const std::string& expected) const {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (firmware() != expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    return firmware();
  }

  // What the emulated firmware shows of each fan, read behind the helper's back.
  [[nodiscard]] std::string firmware() const {
    auto smc = SMCWrapperObjC::create(smc::makeUserClient(smc_), std::make_shared<ThreadSleeper>());
    std::string state;
    for (std::int64_t fan = 0; fan < smc->fanCount(); ++fan) {
      SMCKeyValue mode;
      // Appended rather than "F" + ...: GCC 12 warns falsely (-Wrestrict) on the latter.
      const auto key = std::string("F").append(std::to_string(fan)).append("Md");
      const auto read = smc->SMCReadKey(key, mode);
      state.append("fan").append(std::to_string(fan));
      state.append(smc->isFanUnderManualControlForIndex(fan) ? " forced" : " free");
      state.append(read == 0 && mode.bytes[0] != 0 ? " manual; " : " auto; ");
    }
    return state;
  }

 private:
  std::string socket_;
  std::filesystem::path log_;
  std::filesystem::path state_;
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

  // Starts a test client that ends its commands with "hold" and stays alive until
  // killed; returns once it holds.
  pid_t holdingClient(std::vector<std::string> commands, const std::string& name) const {
    std::vector<std::string> argv{SIGNED_CLIENT, helper.socket()};
    argv.insert(argv.end(), commands.begin(), commands.end());
    argv.emplace_back("hold");
    const auto out = dir / (name + ".out");
    const pid_t pid = spawn(argv, {}, out, dir / (name + ".err"));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (readFile(out).find("holding") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    return pid;
  }

  static void kill(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }

  [[nodiscard]] std::string output(const std::string& name) const {
    return readFile(dir / (name + ".out"));
  }

  TempDir dir;
  Helper helper{dir};
};

constexpr const char* kForced = "fan0 forced manual; fan1 forced manual; ";
constexpr const char* kReleased = "fan0 free auto; fan1 free auto; ";

std::string exitLine(pid_t pid) {
  return "[ZephroHelper] Client pid " + std::to_string(pid) +
         " that forced the fans has exited; returning them to system control.";
}

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

  // A helper killed outright hands nothing back; a fresh one only sees that the fans
  // are forced.
  const auto holder = holdingClient({"mode", "2", "none"}, "holder");
  helper.stop(SIGKILL);
  helper.start();
  EXPECT_EQ(linesOf(client(SIGNED_CLIENT, {"fans", "mode", "0", "none", "fans"}).output),
            (std::vector<std::string>{"fans manual,manual", "ok", "fans system,system"}));
  kill(holder);
}

TEST_F(HelperDaemon, FansGoBackToTheFirmwareWhenTheClientThatForcedThemDies) {
  helper.start();
  // Reconnecting is not leaving: the lease stays with the process.
  const auto holder = holdingClient({"mode", "1", "60,60", "reconnect", "fans"}, "holder");
  EXPECT_EQ(output("holder"), "ok\nreconnected\nfans manual,manual\nholding\n");
  EXPECT_EQ(helper.firmware(), kForced);
  kill(holder);
  EXPECT_EQ(helper.waitForLog("[ZephroHelper] Client pid"),
            std::vector<std::string>{exitLine(holder)});
  EXPECT_EQ(helper.waitForFirmware(kReleased), kReleased);
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Releasing").size(), 1U);
  EXPECT_EQ(linesOf(client(SIGNED_CLIENT, {"fans"}).output),
            std::vector<std::string>{"fans system,system"});
}

TEST_F(HelperDaemon, OnlyTheLastClientToForceTheFansHoldsTheLease) {
  helper.start();
  // A system request ends the lease; a later forcing request moves it to its client.
  kill(holdingClient({"mode", "2", "none", "mode", "0", "none"}, "released"));
  const auto first = holdingClient({"mode", "2", "none"}, "first");
  const auto second = holdingClient({"mode", "1", "40,40"}, "second");
  kill(first);
  EXPECT_EQ(helper.firmware(), kForced);
  kill(second);
  // Lines are written in order, so once the second client's is there, a line for
  // either of the others would be there too.
  EXPECT_EQ(helper.waitForLog("[ZephroHelper] Client pid"),
            std::vector<std::string>{exitLine(second)});
  EXPECT_EQ(helper.waitForFirmware(kReleased), kReleased);
}

TEST_F(HelperDaemon, StoppingTheHelperHandsForcedFansBack) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    helper.start();
    const auto holder = holdingClient({"mode", "2", "none"}, "holder");
    EXPECT_EQ(helper.firmware(), kForced);
    helper.stop(signal);
    EXPECT_EQ(
        helper.logStartingWith("[ZephroHelper] Stopping"),
        std::vector<std::string>{"[ZephroHelper] Stopping: returning the fans to system control."});
    EXPECT_EQ(helper.firmware(), kReleased);
    kill(holder);
    std::filesystem::remove(dir / "helper.log");
  }
  // With nothing forced there is nothing to hand back and nothing to say.
  helper.start();
  helper.stop();
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] Stopping").empty());
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

TEST_F(HelperDaemon, AHugeExecutableIsRefusedUnreadWhileOthersAreServed) {
  helper.start();
  // An unsigned client grown far past any real executable (sparse, so it costs no
  // disk) and given a signed client's trailer.
  const auto huge = dir / "huge-client";
  std::filesystem::copy_file(UNSIGNED_CLIENT, huge);
  std::filesystem::resize_file(huge, std::uintmax_t{4} * codesign::kMaxCodeSize);
  {
    const FileDescriptor signedFile(::open(SIGNED_CLIENT, O_RDONLY | O_CLOEXEC));
    codesign::SignatureTrailer trailer;
    std::uint64_t contentLength = 0;
    ASSERT_EQ(codesign::readTrailer(signedFile.get(), trailer, contentLength), 0);
    std::ofstream(huge, std::ios::binary | std::ios::app)
        << readFile(SIGNED_CLIENT).substr(contentLength);
  }
  std::filesystem::permissions(huge, std::filesystem::perms::owner_all);

  const auto hugeOut = dir / "huge.out";
  const auto hugePid = spawn({huge.string(), helper.socket(), "version"}, {}, hugeOut, "/dev/null");
  const auto served = client(SIGNED_CLIENT, {"version", "fans"});
  int status = 0;
  ::waitpid(hugePid, &status, 0);
  EXPECT_EQ(linesOf(served.output),
            (std::vector<std::string>{"version 1.0.1", "fans system,system"}));
  EXPECT_EQ(linesOf(readFile(hugeOut)), std::vector<std::string>{"transport 4099"});
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Rejected"),
            std::vector<std::string>{"[ZephroHelper] Rejected connection from pid " +
                                     std::to_string(hugePid) +
                                     ": failed code requirement check (status -67061)."});
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
