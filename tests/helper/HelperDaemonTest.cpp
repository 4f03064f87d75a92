// The real com.zephro.helper on a temporary socket and an emulated machine, driven by test
// clients that are signed (or not) the way the application is, run by root and by others.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>

#include "helper/HelperService.h"
#include "helper/Sleeper.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/SignatureTrailer.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/smc/UserClient.h"
#include "tests/helper/HelperProcess.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kForced = "fan0 forced manual; fan1 forced manual; ";
constexpr const char* kReleased = "fan0 free auto; fan1 free auto; ";
constexpr uid_t kNobody = 65534;
constexpr uid_t kDaemon = 1;
const std::string kNotAuthorized = "error " + notAuthorizedError().fullDescription();

std::string exitLine(pid_t pid) {
  return "[ZephroHelper] Client pid " + std::to_string(pid) +
         " that forced the fans has exited; returning them to system control.";
}

std::string refusedLine(pid_t pid, uid_t uid) {
  return "[ZephroHelper] Refused fan change from pid " + std::to_string(pid) + " (uid " +
         std::to_string(uid) + "): not authorized.";
}

Lines asOther(uid_t uid, Lines argv) {
  return asUser(uid, uid, std::move(argv));
}

struct HelperDaemon : ::testing::Test {
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
  [[nodiscard]] std::string waitForFirmware(const std::string& expected) const {
    const auto deadline = std::chrono::steady_clock::now() + HelperProcess::kWait;
    while (firmware() != expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    return firmware();
  }
  // One client's commands over one connection.
  [[nodiscard]] ProgramRun client(const char* binary, Lines commands) const {
    Lines argv{binary, helper.socket()};
    argv.insert(argv.end(), commands.begin(), commands.end());
    return helper.run(argv);
  }

  TempDir dir;
  std::string smc_ = "emulated:macbookpro16-1,state=" + (dir / "smc-state.json").string();
  HelperProcess helper{dir.path(), smc_};
};

TEST_F(HelperDaemon, ServesTheSignedApplicationAndHandsBackWhatAKilledHelperLeftForced) {
  ASSERT_TRUE(helper.start());
  const auto first =
      client(SIGNED_CLIENT, {"version", "fans", "mode", "2", "none", "fans", "mode", "7", "none"});
  EXPECT_EQ(first.exitStatus, 0);
  const auto unknownMode =
      "error " + Error::withDescription("HelperError", 7, "Unknown fan mode 7").fullDescription();
  EXPECT_EQ(first.lines,
            (Lines{"version 1.0.1", "fans system,system", "ok", "fans max,max", unknownMode}));
  const auto log = helper.logStartingWith("[ZephroHelper] ");
  ASSERT_GE(log.size(), 3U);
  EXPECT_EQ(log[0], "[ZephroHelper] Starting privileged helper.");
  EXPECT_EQ(log[1], "[ZephroHelper] XPC listener is running.");
  EXPECT_EQ(
      helper.logStartingWith("[ZephroHelper] Accepted"),
      Lines{"[ZephroHelper] Accepted XPC connection from pid " + std::to_string(first.pid) + "."});

  // A helper killed outright hands nothing back, but a fresh one holds no lease: it
  // hands the fans back before it listens.
  Lines held;
  const auto holder = helper.holdingClient({"mode", "2", "none"}, held);
  helper.stop(SIGKILL);
  EXPECT_EQ(firmware(), kForced);
  ASSERT_TRUE(helper.start());
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Starting:"),
            Lines{"[ZephroHelper] Starting: returning the fans to system control."});
  EXPECT_EQ(firmware(), kReleased);
  HelperProcess::kill(holder);

  // The unit's ExecStopPost does the same once a helper is gone, however it ended.
  const auto again = helper.holdingClient({"mode", "2", "none"}, held, "again");
  helper.stop(SIGKILL);
  EXPECT_EQ(firmware(), kForced);
  EXPECT_EQ(helper.run({HELPER_BINARY, "--smc", smc_, "--release-fans"}, "release").exitStatus, 0);
  EXPECT_NE(contentOf(dir / "release.err")
                .find("[ZephroHelper] The helper has stopped: returning the fans to system "
                      "control."),
            std::string::npos);
  EXPECT_EQ(firmware(), kReleased);
  HelperProcess::kill(again);
}

TEST_F(HelperDaemon, FansGoBackWhenTheLastClientToForceThemDies) {
  ASSERT_TRUE(helper.start());
  // Reconnecting is not leaving; a system request ends the lease; a later forcing request
  // moves it to its client.
  Lines held;
  HelperProcess::kill(helper.holdingClient({"mode", "2", "none", "mode", "0", "none"}, held, "a"));
  const auto first = helper.holdingClient({"mode", "1", "60,60", "reconnect", "fans"}, held, "b");
  EXPECT_EQ(held, (Lines{"ok", "reconnected", "fans manual,manual", "holding"}));
  const auto second = helper.holdingClient({"mode", "1", "40,40"}, held, "c");
  HelperProcess::kill(first);
  EXPECT_EQ(firmware(), kForced);
  HelperProcess::kill(second);
  // Lines are written in order, so once the second client's is there, a line for either
  // of the others would be there too.
  EXPECT_EQ(helper.waitForLog("[ZephroHelper] Client pid"), Lines{exitLine(second)});
  EXPECT_EQ(waitForFirmware(kReleased), kReleased);
}

TEST_F(HelperDaemon, StoppingTheHelperHandsForcedFansBack) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ASSERT_TRUE(helper.start());
    Lines held;
    const auto holder = helper.holdingClient({"mode", "2", "none"}, held);
    EXPECT_EQ(firmware(), kForced);
    helper.stop(signal);
    EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Stopping"),
              Lines{"[ZephroHelper] Stopping: returning the fans to system control."});
    EXPECT_EQ(firmware(), kReleased);
    HelperProcess::kill(holder);
    std::filesystem::remove(dir / "helper.log");
  }
  // With nothing forced there is nothing to hand back and nothing to say.
  ASSERT_TRUE(helper.start());
  helper.stop();
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] Stopping").empty());
}

TEST_F(HelperDaemon, RefusesUnsignedForeignAndHugeClientsBeforeAnyOperation) {
  ASSERT_TRUE(helper.start());
  // An unsigned client grown far past any real executable (sparse, so it costs no disk)
  // and given a signed client's trailer.
  const auto huge = dir / "huge-client";
  std::filesystem::copy_file(UNSIGNED_CLIENT, huge);
  std::filesystem::resize_file(huge, std::uintmax_t{4} * codesign::kMaxCodeSize);
  {
    const FileDescriptor signedFile(::open(SIGNED_CLIENT, O_RDONLY | O_CLOEXEC));
    codesign::SignatureTrailer trailer;
    std::uint64_t contentLength = 0;
    ASSERT_EQ(codesign::readTrailer(signedFile.get(), trailer, contentLength), 0);
    std::ofstream(huge, std::ios::binary | std::ios::app)
        << contentOf(SIGNED_CLIENT).substr(contentLength);
  }
  std::filesystem::permissions(huge, std::filesystem::perms::owner_all);

  Lines rejected;
  for (const auto& [binary, status] : {std::pair<std::string, int>{UNSIGNED_CLIENT, -67062},
                                       {FOREIGN_CLIENT, -67050},
                                       {huge.string(), -67061}}) {
    const auto run = client(binary.c_str(), {"mode", "2", "none"});
    EXPECT_EQ(run.lines, Lines{"transport 4099"}) << binary;
    rejected.push_back("[ZephroHelper] Rejected connection from pid " + std::to_string(run.pid) +
                       ": failed code requirement check (status " + std::to_string(status) + ").");
  }
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Rejected"), rejected);
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] setFanMode").empty());
  EXPECT_EQ(client(SIGNED_CLIENT, {"fans"}).lines, Lines{"fans system,system"});
}

// Clients of other users reach the socket, and copies of the clients, through the test's
// folder.
struct HelperPeople : HelperDaemon {
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "runs clients as other users, which needs root";
    using std::filesystem::perms;
    std::filesystem::permissions(dir.path(), perms::owner_all | perms::group_read |
                                                 perms::group_exec | perms::others_read |
                                                 perms::others_exec);
  }
  const std::string signedClient = copyForOthers(SIGNED_CLIENT, dir / "bin");
  const std::string unsignedClient = copyForOthers(UNSIGNED_CLIENT, dir / "bin");
  const std::string erasePreload = copyForOthers(ERASE_PRELOAD, dir / "bin");
};

TEST_F(HelperPeople, EveryoneReadsButOnlyTheHelpersUserChangesTheFansWithoutPolkit) {
  ASSERT_TRUE(helper.start());
  const std::string sock = helper.socket();
  struct Case {
    const char* name;
    uid_t uid;
    Lines argv;
    Lines output;
    std::size_t refusals;  // one line each
  };
  const Case cases[] = {
      {"the application as the helper's user",
       0,
       {signedClient, sock, "mode", "2", "none", "fans", "mode", "0", "none"},
       {"ok", "fans max,max", "ok"},
       0},
      {"the application as another user",
       kNobody,
       {signedClient, sock, "fans", "temperature", "mode", "2", "none", "mode", "0", "none"},
       {"fans system,system", "temperature", kNotAuthorized, kNotAuthorized},
       2},
      {"an unsigned client", kNobody, {unsignedClient, sock, "fans"}, {"transport 4099"}, 0},
      {"the application with a preload that erases itself",
       kNobody,
       {"/usr/bin/env", "LD_PRELOAD=" + erasePreload,
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0", signedClient, sock, "fans", "mode",
        "2", "none"},
       {"fans system,system", kNotAuthorized},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto refusedBefore = helper.logStartingWith("[ZephroHelper] Refused").size();
    auto run = helper.run(asOther(c.uid, c.argv));
    // The emulated machine's temperature moves; only the reading's presence matters.
    for (auto& line : run.lines) {
      if (line.starts_with("temperature ")) line = "temperature";
    }
    EXPECT_EQ(run.lines, c.output);
    const auto refused = helper.logStartingWith("[ZephroHelper] Refused");
    ASSERT_EQ(refused.size(), refusedBefore + c.refusals);
    if (c.refusals > 0) {
      EXPECT_EQ(refused.back(), refusedLine(run.pid, c.uid));
    }
    EXPECT_EQ(firmware(), kReleased);
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
  const pid_t execed = spawnProcess(
      asOther(kNobody, {unsignedClient, sock, "exec-after-connect", signedClient, sock, "hold"}),
      out, dir / "exec.err");
  const auto deadline = std::chrono::steady_clock::now() + HelperProcess::kWait;
  const auto said = [&](const std::string& line) {
    const auto lines = linesOf(contentOf(out));
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  while (!said("refused") && !said(kNotAuthorized) && !said("ok") && !said("closed") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  HelperProcess::kill(execed);
  EXPECT_TRUE(said("refused") || said(kNotAuthorized)) << contentOf(out);
  EXPECT_EQ(firmware(), kReleased);
}

// A private system bus with the real polkitd, which sees our action and a rule for
// `nobody` through a mount namespace of its own.
class PrivatePolkit {
 public:
  explicit PrivatePolkit(const TempDir& dir) : dir_(dir) {}
  ~PrivatePolkit() {
    for (const pid_t pid : {polkitd_, bus_}) {
      if (pid > 0) HelperProcess::kill(pid);
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
    address_ = "unix:path=" + (dir_ / "system_bus_socket").string();
    std::ofstream(dir_ / "bus.conf")
        << "<busconfig><type>system</type><listen>" << address_
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
           "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
           "</policy></busconfig>\n";
    bus_ = spawnProcess(
        {"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + (dir_ / "bus.conf").string()},
        "/dev/null", dir_ / "bus.log");
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
    for (const auto& folder : {actions, rules}) {
      std::filesystem::permissions(folder, std::filesystem::perms::all,
                                   std::filesystem::perm_options::add);
    }
    polkitd_ =
        spawnProcess({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                      "mount --bind \"$0\" /usr/share/polkit-1/actions && "
                      "mount --bind \"$1\" /etc/polkit-1/rules.d && "
                      "exec /usr/lib/polkit-1/polkitd --no-debug",
                      actions.string(), rules.string()},
                     "/dev/null", dir_ / "polkitd.log", {"DBUS_SYSTEM_BUS_ADDRESS=" + address_});
    const auto deadline = std::chrono::steady_clock::now() + HelperProcess::kWait;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(polkitd_, &status, WNOHANG) == polkitd_) {
        polkitd_ = -1;
        return "polkitd did not start: " + contentOf(dir_ / "polkitd.log");
      }
      const auto probe = dir_ / "probe.out";
      const pid_t busctl =
          spawnProcess({"/usr/bin/busctl", "--address=" + address_, "call", "org.freedesktop.DBus",
                        "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s",
                        "org.freedesktop.PolicyKit1"},
                       probe, "/dev/null");
      ::waitpid(busctl, &status, 0);
      if (contentOf(probe) == "b true\n") return {};
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
  ASSERT_TRUE(helper.start());
  const std::string sock = helper.socket();
  // The rule names nobody; another account without a session gets polkit's default.
  EXPECT_EQ(helper.run(asOther(kNobody, {signedClient, sock, "mode", "2", "none", "fans"})).lines,
            (Lines{"ok", "fans max,max"}));
  const auto other = helper.run(asOther(kDaemon, {signedClient, sock, "mode", "0", "none"}));
  EXPECT_EQ(other.lines, Lines{kNotAuthorized});
  EXPECT_EQ(helper.logStartingWith("[ZephroHelper] Refused"),
            Lines{refusedLine(other.pid, kDaemon)});
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] Cannot ask polkit").empty());
}

TEST_F(HelperPeople, AStopHandsTheFansBackWhileAConnectionIsStuckInItsCheck) {
  ASSERT_TRUE(helper.start());
  Lines held;
  const auto holder = helper.holdingClient({"mode", "2", "none"}, held);
  ASSERT_EQ(firmware(), kForced);
  // A signed client large enough that its check (run in a child of the helper) lasts long
  // enough to be caught and stopped there: the check is stuck until its deadline.
  const auto big = dir / "big-client";
  std::filesystem::copy_file(SIGNED_CLIENT, big);
  std::filesystem::resize_file(big, std::uintmax_t{60} << 20);
  const auto signer = helper.run({CODESIGN_TOOL, "sign", "--key", TEAM_KEY, "--certificate",
                                  TEAM_CERTIFICATE, "--identifier", "com.zephro.app", big.string()},
                                 "sign");
  ASSERT_EQ(signer.exitStatus, 0) << contentOf(dir / "sign.err");
  std::filesystem::permissions(big, std::filesystem::perms::all,
                               std::filesystem::perm_options::add);
  const pid_t stuck =
      spawnProcess({big.string(), helper.socket(), "version"}, dir / "big.out", "/dev/null");

  // The check's child, caught and stopped.
  pid_t checker = -1;
  const auto deadline = std::chrono::steady_clock::now() + HelperProcess::kWait;
  while (checker < 0 && std::chrono::steady_clock::now() < deadline) {
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(helper.pid()) + "/task")) {
      std::istringstream children(contentOf(task.path() / "children"));
      if (pid_t child = 0; children >> child) {
        ::kill(child, SIGSTOP);
        checker = child;
        break;
      }
    }
  }
  ASSERT_GT(checker, 0) << "the check's child was never seen";
  ::kill(helper.pid(), SIGTERM);
  EXPECT_EQ(waitForFirmware(kReleased), kReleased);
  // The fans went back before the stuck check gave up (at its deadline, when the child is
  // killed) and before any connection was closed.
  (void)helper.waitForLog("[ZephroHelper] Rejected");
  const auto log = helper.log();
  const auto stopping = std::find(log.begin(), log.end(),
                                  "[ZephroHelper] Stopping: returning the fans to system control.");
  const auto gaveUp = std::find(log.begin(), log.end(),
                                "[ZephroHelper] Rejected connection from pid " +
                                    std::to_string(stuck) + ": code check did not finish in time.");
  EXPECT_LT(stopping, gaveUp);
  helper.stop();
  HelperProcess::kill(stuck);
  HelperProcess::kill(holder);
}

TEST(HelperExecutable, EmbedsAndPrintsItsInformationPropertyList) {
  TempDir dir;
  const HelperProcess helper(dir.path(), "");
  const auto info = helper.run({HELPER_BINARY, "--print-info"});
  EXPECT_EQ(info.exitStatus, 0);
  const auto plist = contentOf(dir / "client.out");
  EXPECT_EQ(plist, contentOf(sourcePath("helper/Info.plist")));
  EXPECT_NE(plist.find(std::string("<string>") + kClientRequirement + "</string>"),
            std::string::npos);
  // In the file itself, not only in what the program prints.
  EXPECT_NE(contentOf(HELPER_BINARY).find(plist), std::string::npos);
  // A mistyped option is a usage error, not a helper running with defaults.
  EXPECT_EQ(helper.run({HELPER_BINARY, "--smc"}).exitStatus, 64);
}

}  // namespace
}  // namespace zephro::testing
