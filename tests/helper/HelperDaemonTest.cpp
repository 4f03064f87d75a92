// The real com.zephro.helper on a temporary socket and an emulated machine, driven
// by test clients that are signed (or not) the way the application is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
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
        smc_("emulated:macbookpro16-1,state=" + state_.string()),
        // No polkit unless a test starts one: the helper then fails closed.
        systemBus_("unix:path=" + (dir / "no-system-bus").string()) {}
  ~Helper() { stop(); }

  void start() {
    const auto running = logStartingWith(kRunning).size();
    pid_ = spawn({HELPER_BINARY, "--smc", smc_, "--anchor-key", ZEPHRO_DEV_ANCHOR_KEY},
                 {"ZEPHRO_HELPER_SOCKET=" + socket_, "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus_},
                 "/dev/null", log_);
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
  [[nodiscard]] pid_t pid() const { return pid_; }
  void useSystemBus(std::string address) { systemBus_ = std::move(address); }

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
  std::string systemBus_;
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
  const auto log = helper.logStartingWith("[ZephroHelper] ");
  ASSERT_GE(log.size(), 3U);
  EXPECT_EQ(log[0], "[ZephroHelper] Starting privileged helper.");
  EXPECT_EQ(log[1], "[ZephroHelper] XPC listener is running.");
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Accepted"),
            std::vector<std::string>{"[ZephroHelper] Accepted XPC connection from pid " +
                                     std::to_string(first.pid) + "."});
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Opened").size(), 1U);

  // A helper killed outright hands nothing back, but a fresh one holds no lease: it
  // hands the fans back before it listens.
  const auto holder = holdingClient({"mode", "2", "none"}, "holder");
  helper.stop(SIGKILL);
  EXPECT_EQ(helper.firmware(), "fan0 forced manual; fan1 forced manual; ");
  helper.start();
  EXPECT_EQ(
      helper.logStartingWith("[ZephroHelper] Starting:"),
      std::vector<std::string>{"[ZephroHelper] Starting: returning the fans to system control."});
  EXPECT_EQ(helper.firmware(), "fan0 free auto; fan1 free auto; ");
  EXPECT_EQ(linesOf(client(SIGNED_CLIENT, {"fans"}).output),
            std::vector<std::string>{"fans system,system"});
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

// Runs argv as another user, the way a second local account would.
std::vector<std::string> asUser(uid_t uid, std::vector<std::string> argv) {
  const auto id = std::to_string(uid);
  std::vector<std::string> prefixed{"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id,
                                    "--clear-groups"};
  prefixed.insert(prefixed.end(), argv.begin(), argv.end());
  return prefixed;
}

constexpr uid_t kNobody = 65534;
constexpr uid_t kDaemon = 1;

std::string refusedLine(pid_t pid, uid_t uid) {
  return "[ZephroHelper] Refused fan change from pid " + std::to_string(pid) + " (uid " +
         std::to_string(uid) + "): not authorized.";
}

const std::string kNotAuthorized = "error " + notAuthorizedError().fullDescription();

// Clients of other users reach the socket through the test's folder.
struct PeopleFixture : HelperDaemon {
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "runs clients as other users, which needs root";
    using std::filesystem::perms;
    std::filesystem::permissions(dir.path(), perms::owner_all | perms::group_read |
                                                 perms::group_exec | perms::others_read |
                                                 perms::others_exec);
  }

  // Runs a client as `uid` to its end; its output lines.
  Spawned clientAs(uid_t uid, std::vector<std::string> argv) const {
    Spawned run;
    run.pid = spawn(asUser(uid, std::move(argv)), {}, dir / "client.out", dir / "client.err");
    int status = 0;
    ::waitpid(run.pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = readFile(dir / "client.out");
    return run;
  }
};

using HelperPeople = PeopleFixture;

TEST_F(HelperPeople, EveryoneReadsButOnlyTheHelpersUserChangesTheFansWithoutPolkit) {
  helper.start();
  const std::string sock = helper.socket();
  struct Case {
    const char* name;
    uid_t uid;
    std::vector<std::string> argv;
    std::vector<std::string> output;
    std::size_t refusals;  // one line each
  };
  const Case cases[] = {
      {"the application as the helper's user",
       0,
       {SIGNED_CLIENT, sock, "mode", "2", "none", "fans", "mode", "0", "none"},
       {"ok", "fans max,max", "ok"},
       0},
      {"the application as another user",
       kNobody,
       {SIGNED_CLIENT, sock, "fans", "temperature", "mode", "2", "none", "mode", "0", "none"},
       {"fans system,system", "temperature", kNotAuthorized, kNotAuthorized},
       2},
      {"an unsigned client", kNobody, {UNSIGNED_CLIENT, sock, "fans"}, {"transport 4099"}, 0},
      {"the application with a preload that erases itself",
       kNobody,
       {"/usr/bin/env", std::string("LD_PRELOAD=") + ERASE_PRELOAD,
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0", SIGNED_CLIENT, sock, "fans", "mode",
        "2", "none"},
       {"fans system,system", kNotAuthorized},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto refusedBefore = helper.logStartingWith("[ZephroHelper] Refused").size();
    const auto run = clientAs(c.uid, c.argv);
    auto output = linesOf(run.output);
    // The emulated machine's temperature moves; only the reading's presence matters.
    for (auto& line : output) {
      if (line.starts_with("temperature ")) line = "temperature";
    }
    EXPECT_EQ(output, c.output);
    const auto refused = helper.logStartingWith("[ZephroHelper] Refused");
    ASSERT_EQ(refused.size(), refusedBefore + c.refusals);
    if (c.refusals > 0) {
      EXPECT_EQ(refused.back(), refusedLine(run.pid, c.uid));
    }
    EXPECT_EQ(helper.firmware(), kReleased);
  }
  // polkit was out of reach, and the helper said so.
  const auto why = helper.logStartingWith("[ZephroHelper] Cannot ask polkit");
  ASSERT_FALSE(why.empty());
  EXPECT_TRUE(why[0].starts_with(
      "[ZephroHelper] Cannot ask polkit whether uid 65534 may change the fans (no system bus: "))
      << why[0];

  // A program that connects, then leaves the socket to a child and becomes the signed
  // application. Whichever program the check saw, the child changes nothing.
  const auto out = dir / "exec.out";
  const pid_t execed = spawn(
      asUser(kNobody, {UNSIGNED_CLIENT, sock, "exec-after-connect", SIGNED_CLIENT, sock, "hold"}),
      {}, out, dir / "exec.err");
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  const auto answered = [&] {
    const auto text = readFile(out);
    return text.find("refused") != std::string::npos || text.find("error") != std::string::npos ||
           text.find("ok\n") != std::string::npos || text.find("closed") != std::string::npos;
  };
  while (!answered() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  kill(execed);
  const auto childSaid = linesOf(readFile(out));
  EXPECT_TRUE(std::find(childSaid.begin(), childSaid.end(), "refused") != childSaid.end() ||
              std::find(childSaid.begin(), childSaid.end(), kNotAuthorized) != childSaid.end())
      << readFile(out);
  EXPECT_EQ(helper.firmware(), kReleased);
}

// A private system bus with the real polkitd, which sees our action and a rule for
// `nobody` through a mount namespace of its own.
class PrivatePolkit {
 public:
  explicit PrivatePolkit(const TempDir& dir) : dir_(dir) {}
  ~PrivatePolkit() {
    for (const pid_t pid : {polkitd_, bus_}) {
      if (pid > 0) HelperDaemon::kill(pid);
    }
  }
  PrivatePolkit(const PrivatePolkit&) = delete;
  PrivatePolkit& operator=(const PrivatePolkit&) = delete;

  // Empty when it runs; otherwise why it cannot run here.
  std::string start() {
    for (const char* tool : {"/usr/bin/unshare", "/usr/bin/dbus-daemon", "/usr/bin/busctl",
                             "/usr/lib/polkit-1/polkitd"}) {
      if (::access(tool, X_OK) != 0) return std::string(tool) + " is missing";
    }
    const auto socket = dir_ / "system_bus_socket";
    address_ = "unix:path=" + socket.string();
    std::ofstream(dir_ / "bus.conf")
        << "<busconfig><type>system</type><listen>" << address_
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
           "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
           "</policy></busconfig>\n";
    bus_ =
        spawn({"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + (dir_ / "bus.conf").string()},
              {}, "/dev/null", dir_ / "bus.log");
    const auto actions = dir_ / "actions";
    const auto rules = dir_ / "rules";
    std::filesystem::create_directories(actions);
    std::filesystem::create_directories(rules);
    std::filesystem::copy_file(CONTROL_POLICY, actions / "com.zephro.helper.policy");
    std::ofstream(rules / "50-zephro-test.rules")
        << "polkit.addRule(function(action, subject) {\n"
           "  if (action.id == \"com.zephro.helper.control\" && subject.user == \"nobody\")\n"
           "    return polkit.Result.YES;\n"
           "});\n";
    std::filesystem::permissions(actions, std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(rules, std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
    polkitd_ = spawn({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                      "mount --bind \"$0\" /usr/share/polkit-1/actions && "
                      "mount --bind \"$1\" /etc/polkit-1/rules.d && "
                      "exec /usr/lib/polkit-1/polkitd --no-debug",
                      actions.string(), rules.string()},
                     {"DBUS_SYSTEM_BUS_ADDRESS=" + address_}, "/dev/null", dir_ / "polkitd.log");
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(polkitd_, &status, WNOHANG) == polkitd_) {
        polkitd_ = -1;
        return "polkitd did not start: " + readFile(dir_ / "polkitd.log");
      }
      const auto probe = dir_ / "probe.out";
      const pid_t busctl =
          spawn({"/usr/bin/busctl", "--address=" + address_, "call", "org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s",
                 "org.freedesktop.PolicyKit1"},
                {}, probe, "/dev/null");
      ::waitpid(busctl, &status, 0);
      if (readFile(probe) == "b true\n") return {};
      std::this_thread::sleep_for(50ms);
    }
    return "polkitd did not take its name on the bus";
  }
  [[nodiscard]] const std::string& address() const { return address_; }

 private:
  const TempDir& dir_;
  std::string address_;
  pid_t bus_ = -1;
  pid_t polkitd_ = -1;
};

TEST_F(HelperPeople, PolkitDecidesForOtherUsersAndAnAdministratorsRuleWidensIt) {
  PrivatePolkit polkit(dir);
  if (const auto why = polkit.start(); !why.empty()) {
    std::cout << "polkitd cannot run here (" << why
              << "); the fail-closed path is tested without it\n";
    GTEST_SKIP() << why;
  }
  helper.useSystemBus(polkit.address());
  helper.start();
  const std::string sock = helper.socket();
  // The rule names nobody; another account without a session gets polkit's default.
  const auto allowed = clientAs(kNobody, {SIGNED_CLIENT, sock, "mode", "2", "none", "fans"});
  EXPECT_EQ(linesOf(allowed.output), (std::vector<std::string>{"ok", "fans max,max"}));
  const auto other = clientAs(kDaemon, {SIGNED_CLIENT, sock, "mode", "0", "none"});
  EXPECT_EQ(linesOf(other.output), std::vector<std::string>{kNotAuthorized});
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Refused"),
            std::vector<std::string>{refusedLine(other.pid, kDaemon)});
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] Cannot ask polkit").empty());
}

TEST_F(HelperPeople, AStopHandsTheFansBackWhileAConnectionIsStuckInItsCheck) {
  helper.start();
  const auto holder = holdingClient({"mode", "2", "none"}, "holder");
  ASSERT_EQ(helper.firmware(), kForced);
  // A signed client large enough that its check (run in a child of the helper) lasts
  // long enough to be caught and stopped there: the check is stuck until its deadline.
  const auto big = dir / "big-client";
  std::filesystem::copy_file(SIGNED_CLIENT, big);
  std::filesystem::resize_file(big, std::uintmax_t{60} << 20);
  const pid_t signer = spawn({CODESIGN_TOOL, "sign", "--key", TEAM_KEY, "--certificate",
                              TEAM_CERTIFICATE, "--identifier", "com.zephro.app", big.string()},
                             {}, "/dev/null", dir / "sign.err");
  int status = 0;
  ::waitpid(signer, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(dir / "sign.err");
  std::filesystem::permissions(big, std::filesystem::perms::all,
                               std::filesystem::perm_options::add);
  const pid_t stuck =
      spawn({big.string(), helper.socket(), "version"}, {}, dir / "big.out", "/dev/null");

  // The check's child, caught and stopped.
  pid_t checker = -1;
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (checker < 0 && std::chrono::steady_clock::now() < deadline) {
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(helper.pid()) + "/task")) {
      std::istringstream children(readFile(task.path() / "children"));
      if (pid_t child = 0; children >> child) {
        ::kill(child, SIGSTOP);
        checker = child;
        break;
      }
    }
  }
  ASSERT_GT(checker, 0) << "the check's child was never seen";
  ::kill(helper.pid(), SIGTERM);
  EXPECT_EQ(helper.waitForFirmware(kReleased), kReleased);
  // The fans went back before the stuck check gave up (at its deadline, when the child is
  // killed) and before any connection was closed.
  helper.waitForLog("[ZephroHelper] Rejected");
  const auto log = helper.log();
  const auto stopping = std::find(log.begin(), log.end(),
                                  "[ZephroHelper] Stopping: returning the fans to system control.");
  const auto gaveUp = std::find(log.begin(), log.end(),
                                "[ZephroHelper] Rejected connection from pid " +
                                    std::to_string(stuck) + ": code check did not finish in time.");
  EXPECT_LT(stopping, gaveUp);
  helper.stop();
  kill(stuck);
  kill(holder);
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
