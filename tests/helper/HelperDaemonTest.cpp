#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>

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

constexpr const char* kForced = "fan0 forced manual; fan1 forced manual; ";
constexpr const char* kReleased = "fan0 free auto; fan1 free auto; ";
constexpr uid_t kNobody = 65534;
constexpr uid_t kDaemon = 1;
const std::string kNotAuthorized = "error " + notAuthorizedError().fullDescription();

std::string refusedLine(pid_t pid, uid_t uid) {
  return "[ZephroHelper] Refused fan change from pid " + std::to_string(pid) + " (uid " +
         std::to_string(uid) + "): not authorized.";
}

struct HelperDaemon : ::testing::Test {
  // What the emulated firmware shows of each fan, read behind the helper's back.
  [[nodiscard]] std::string firmware() const {
    auto smc = SMCWrapperObjC::create(smc::makeUserClient(smc_), std::make_shared<ThreadSleeper>());
    std::string state;
    for (std::int64_t fan = 0; fan < smc->fanCount(); ++fan) {
      SMCKeyValue mode;
      const auto read = smc->SMCReadKey(fanKeyName("F%dMd", fan), mode);
      state.append("fan").append(std::to_string(fan));
      state.append(smc->isFanUnderManualControlForIndex(fan) ? " forced" : " free");
      state.append(read == 0 && mode.bytes[0] != 0 ? " manual; " : " auto; ");
    }
    return state;
  }
  [[nodiscard]] std::string waitForFirmware(const std::string& expected) const {
    waitUntil([&] { return firmware() == expected; });
    return firmware();
  }

  TempDir dir;
  std::string smc_ = "emulated:macbookpro16-1,state=" + (dir / "smc-state.json").string();
  HelperProcess helper{dir.path(), smc_};
};

TEST_F(HelperDaemon, ServesTheSignedApplicationAndRefusesOtherCodeBeforeAnyOperation) {
  ASSERT_TRUE(helper.start());
  // Far past any real executable (sparse: no disk), with a signed client's trailer.
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

  // Refused clients' calls fail on the closed connection, and leave the fans alone.
  const Lines refused(4, "transport 4099");
  const std::string requirement = "failed code requirement check (status ";
  const struct {
    std::string binary;
    Lines output;
    std::string logged;
  } cases[] = {
      {UNSIGNED_CLIENT, refused, "Rejected connection from pid %: " + requirement + "-67062)."},
      {FOREIGN_CLIENT, refused, "Rejected connection from pid %: " + requirement + "-67050)."},
      {huge.string(), refused, "Rejected connection from pid %: " + requirement + "-67061)."},
      {SIGNED_CLIENT,
       {"version 1.0.1", "fans system,system", "ok", "fans max,max"},
       "Accepted XPC connection from pid %."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.binary);
    EXPECT_EQ(firmware(), kReleased);
    const auto run =
        helper.run({c.binary, helper.socket(), "version", "fans", "mode", "2", "none", "fans"});
    EXPECT_EQ(run.lines, c.output);
    auto logged = "[ZephroHelper] " + c.logged;
    EXPECT_TRUE(holds(helper.log(), logged.replace(logged.find('%'), 1, std::to_string(run.pid))));
  }
}

TEST_F(HelperDaemon, FansGoBackWhenTheLastClientToForceThemDies) {
  ASSERT_TRUE(helper.start());
  // Reconnecting is not leaving; system ends the lease; a later forcing request moves it.
  Lines held;
  endProcess(helper.holdingClient({"mode", "2", "none", "mode", "0", "none"}, held, "a"));
  const auto first = helper.holdingClient({"mode", "1", "60,60", "reconnect", "fans"}, held, "b");
  EXPECT_EQ(held, (Lines{"ok", "reconnected", "fans manual,manual", "holding"}));
  const auto second = helper.holdingClient({"mode", "1", "40,40"}, held, "c");
  endProcess(first);
  EXPECT_EQ(firmware(), kForced);
  endProcess(second);
  // Lines are written in order: once the second client's is there, the others' would be too.
  EXPECT_EQ(helper.waitForLog("[ZephroHelper] Client pid"),
            Lines{"[ZephroHelper] Client pid " + std::to_string(second) +
                  " that forced the fans has exited; returning them to system control."});
  EXPECT_EQ(waitForFirmware(kReleased), kReleased);
}

TEST_F(HelperDaemon, HowEverTheHelperEndsTheFansItForcedGoBackWithALine) {
  const auto release = [&] {
    endProcess(spawnProcess({HELPER_BINARY, "--smc", smc_, "--release-fans"}, "/dev/null",
                            helper.logFile()),
               0);
  };
  const auto restart = [&] { EXPECT_TRUE(helper.start()); };
  const struct {
    const char* how;
    int signal;
    std::function<void()> then;
    const char* line;
  } ends[] = {
      {"stopped", SIGTERM, [] {}, "Stopping: returning the fans to system control."},
      // A killed helper hands nothing back, but a fresh one hands the fans back before it listens.
      {"killed and started again", SIGKILL, restart,
       "Starting: returning the fans to system control."},
      // The unit's ExecStopPost.
      {"killed, then --release-fans", SIGKILL, release,
       "The helper has stopped: returning the fans to system control."},
  };
  for (const auto& end : ends) {
    SCOPED_TRACE(end.how);
    std::filesystem::remove(helper.logFile());
    ASSERT_TRUE(helper.start());
    Lines held;
    const auto holder = helper.holdingClient({"mode", "2", "none"}, held);
    EXPECT_EQ(firmware(), kForced);
    helper.stop(end.signal);
    EXPECT_EQ(firmware(), end.signal == SIGKILL ? kForced : kReleased);
    end.then();
    EXPECT_TRUE(holds(helper.log(), std::string("[ZephroHelper] ") + end.line));
    EXPECT_EQ(firmware(), kReleased);
    endProcess(holder);
    helper.stop();
  }
  // With nothing forced there is nothing to hand back and nothing to say.
  std::filesystem::remove(helper.logFile());
  ASSERT_TRUE(helper.start());
  helper.stop();
  EXPECT_TRUE(helper.logStartingWith("[ZephroHelper] Stopping").empty());
}

// Other users reach the socket and the clients' copies through the test's folder.
struct HelperPeople : HelperDaemon {
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "runs clients as other users, which needs root";
    using std::filesystem::perms;
    std::filesystem::permissions(dir.path(), perms::owner_all | perms::group_read |
                                                 perms::group_exec | perms::others_read |
                                                 perms::others_exec);
  }
  [[nodiscard]] ProgramRun runAs(uid_t uid, Lines argv) const {
    return helper.run(asUser(uid, uid, std::move(argv)));
  }
  const std::string signedClient = copyForOthers(SIGNED_CLIENT, dir / "bin");
  const std::string unsignedClient = copyForOthers(UNSIGNED_CLIENT, dir / "bin");
  const std::string erasePreload = copyForOthers(ERASE_PRELOAD, dir / "bin");
};

TEST_F(HelperPeople, EveryoneReadsButOnlyTheHelpersUserChangesTheFansWithoutPolkit) {
  ASSERT_TRUE(helper.start());
  const std::string sock = helper.socket();
  // Root changes the fans in every test above.
  const struct {
    const char* name;
    Lines argv;
    Lines output;
  } cases[] = {
      {"the application as another user",
       {signedClient, sock, "fans", "mode", "2", "none", "mode", "0", "none"},
       {"fans system,system", kNotAuthorized, kNotAuthorized}},
      {"the application with a preload that erases itself",
       {"/usr/bin/env", "LD_PRELOAD=" + erasePreload,
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0", signedClient, sock, "fans", "mode",
        "2", "none"},
       {"fans system,system", kNotAuthorized}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto run = runAs(kNobody, c.argv);
    EXPECT_EQ(run.lines, c.output);
    EXPECT_TRUE(holds(helper.log(), refusedLine(run.pid, kNobody)));
    EXPECT_EQ(firmware(), kReleased);
  }
  // polkit was out of reach, and the helper said so.
  EXPECT_FALSE(helper
                   .logStartingWith("[ZephroHelper] Cannot ask polkit whether uid 65534 may "
                                    "change the fans (no system bus: ")
                   .empty());

  // Connects, leaves the socket to a child and execs the signed app: the child changes nothing.
  const auto out = dir / "exec.out";
  const pid_t execed =
      spawnProcess(asUser(kNobody, kNobody,
                          {unsignedClient, sock, "exec-after-connect", signedClient, sock, "hold"}),
                   out, dir / "exec.err");
  const auto said = [&](const std::string& line) { return holds(linesOf(contentOf(out)), line); };
  waitUntil(
      [&] { return said("refused") || said(kNotAuthorized) || said("ok") || said("closed"); });
  endProcess(execed);
  EXPECT_TRUE(said("refused") || said(kNotAuthorized)) << contentOf(out);
  EXPECT_EQ(firmware(), kReleased);
}

// The real polkitd on a private bus, seeing our action and a rule for `nobody` via a namespace.
class PrivatePolkit {
 public:
  explicit PrivatePolkit(const TempDir& dir) : dir_(dir) {}
  ~PrivatePolkit() {
    for (const pid_t pid : {polkitd_, bus_}) {
      if (pid > 0) endProcess(pid);
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
    putFile(dir_ / "bus.conf",
            "<busconfig><type>system</type><listen>" + address_ +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                "</policy></busconfig>\n");
    bus_ = spawnProcess(
        {"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + (dir_ / "bus.conf").string()},
        "/dev/null", dir_ / "bus.log");
    const auto actions = dir_ / "actions";
    const auto rules = dir_ / "rules";
    putFile(rules / "50-zephro-test.rules",
            "polkit.addRule(function(action, subject) {\n"
            "  if (action.id == \"com.zephro.helper.control\" && subject.user == \"nobody\")\n"
            "    return polkit.Result.YES;\n"
            "});\n");
    std::filesystem::create_directories(actions);
    std::filesystem::copy_file(CONTROL_POLICY, actions / "com.zephro.helper.policy");
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
    const auto probe = dir_ / "probe.out";
    bool exited = false;
    const bool named = waitUntil([&] {
      exited = exited || ::waitpid(polkitd_, nullptr, WNOHANG) == polkitd_;
      endProcess(
          spawnProcess({"/usr/bin/busctl", "--address=" + address_, "call", "org.freedesktop.DBus",
                        "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s",
                        "org.freedesktop.PolicyKit1"},
                       probe, "/dev/null"),
          0);
      return exited || contentOf(probe) == "b true\n";
    });
    if (exited) {
      polkitd_ = -1;
      return "polkitd did not start: " + contentOf(dir_ / "polkitd.log");
    }
    return named ? "" : "polkitd did not take its name on the bus";
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
    GTEST_SKIP() << "polkitd cannot run here (" << why << "); the fail-closed path is tested";
  }
  helper.useSystemBus(polkit.address());
  ASSERT_TRUE(helper.start());
  const std::string sock = helper.socket();
  // The rule names nobody; another account without a session gets polkit's default.
  EXPECT_EQ(runAs(kNobody, {signedClient, sock, "mode", "2", "none", "fans"}).lines,
            (Lines{"ok", "fans max,max"}));
  const auto other = runAs(kDaemon, {signedClient, sock, "mode", "0", "none"});
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
  // Large enough that its check (in the helper's child) can be caught and stopped mid-way.
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
  waitUntil([&] {
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(helper.pid()) + "/task")) {
      std::istringstream children(contentOf(task.path() / "children"));
      if (children >> checker) return ::kill(checker, SIGSTOP) == 0;
    }
    return false;
  });
  ASSERT_GT(checker, 0) << "the check's child was never seen";
  ::kill(helper.pid(), SIGTERM);
  EXPECT_EQ(waitForFirmware(kReleased), kReleased);
  // The fans went back before the stuck check's deadline and before any connection closed.
  (void)helper.waitForLog("[ZephroHelper] Rejected");
  const auto log = helper.log();
  const auto stopping = std::find(log.begin(), log.end(),
                                  "[ZephroHelper] Stopping: returning the fans to system control.");
  EXPECT_LT(stopping,
            std::find(log.begin(), log.end(),
                      "[ZephroHelper] Rejected connection from pid " + std::to_string(stuck) +
                          ": code check did not finish in time."));
  helper.stop();
  endProcess(stuck);
  endProcess(holder);
}

TEST(HelperExecutable, EmbedsAndPrintsItsInformationPropertyList) {
  TempDir dir;
  const HelperProcess helper(dir.path(), "");
  EXPECT_EQ(helper.run({HELPER_BINARY, "--print-info"}).exitStatus, 0);
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
