#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "platform/log/Log.h"
#include "platform/servicemanager/AutostartLoginItem.h"
#include "platform/servicemanager/CommandRunner.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "platform/servicemanager/ServiceErrors.h"
#include "platform/servicemanager/ServiceManagerFactory.h"
#include "platform/servicemanager/StartupSettingsOpener.h"
#include "platform/servicemanager/SystemdServiceManager.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;
using Argv = std::vector<std::string>;
using testing::readFile;

// Until the file holds the text; false when the guard passed first. Generous: what writes
// it runs on its own, on a loaded machine.
bool waitForText(const fs::path& file, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (readFile(file).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
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
  ASSERT_TRUE(waitForText(launch.outputFile, "done"));
  std::istringstream fields(readFile(launch.outputFile));
  std::string probe;
  pid_t parent = 0;
  pid_t session = 0;
  fields >> probe >> parent >> session;
  EXPECT_EQ(probe, "probe-value");
  EXPECT_NE(parent, getpid()) << "the process must not be this process's child";
  EXPECT_NE(session, getsid(0)) << "it must be in a session of its own";

  // The last case: a link in the log's place is not written through.
  const auto linked = dir / "linked.log";
  fs::create_symlink(launch.outputFile, linked);
  const auto log = launch.outputFile.string();
  const std::pair<DetachedLaunch, std::string> failures[] = {
      {{{"/nonexistent/zephro-helper"}, {}, {}},
       "could not start /nonexistent/zephro-helper: No such file or directory"},
      {{{"zephro-no-such-program"}, {}, {}}, "zephro-no-such-program was not found"},
      {{{log}, {}, {}}, "could not start " + log + ": Permission denied"},
      {{{"sh", "-c", "echo written"}, {}, linked},
       linked.string() + ": Too many levels of symbolic links"}};
  for (const auto& [failing, error] : failures) {
    const auto started = runner.startDetached(failing);
    EXPECT_EQ(started.pid, -1) << error;
    EXPECT_EQ(started.error, error);
  }
}

TEST(AutostartLoginItem, EnabledExactlyWhileTheEntryIsPresentAndNotHidden) {
  testing::TempDir config;
  const auto file = config / "autostart" / "com.zephro.app.desktop";
  AutostartLoginItem item(file, "/opt/zephro/bin/zephro");
  EXPECT_EQ(item.status(), 0);

  ASSERT_FALSE(item.registerService());
  EXPECT_EQ(item.status(), 1);
  const auto entry = readFile(file);
  for (const char* line :
       {"[Desktop Entry]\n", "\nType=Application\n", "\nExec=/opt/zephro/bin/zephro\n"})
    EXPECT_NE(entry.find(line), std::string::npos) << line;
  EXPECT_FALSE(fs::exists(file.string() + ".new"));

  // A desktop records the user's "off" as Hidden=true; only the main group counts.
  const std::pair<const char*, int> entries[] = {
      {"[Desktop Entry]\nExec=zephro\n Hidden = true \n", 0},
      {"[Desktop Entry]\nHidden=false\n[Desktop Action Quit]\nHidden=true\n", 1}};
  for (const auto& [text, status] : entries) {
    std::ofstream(file) << text;
    EXPECT_EQ(item.status(), status) << text;
  }

  // Registering again turns a hidden entry back on.
  std::ofstream(file) << "[Desktop Entry]\nHidden=true\n";
  ASSERT_FALSE(item.registerService());
  EXPECT_EQ(item.status(), 1);

  ASSERT_FALSE(item.unregisterService());
  EXPECT_EQ(item.status(), 0);
  EXPECT_FALSE(fs::exists(file));
  const auto error = item.unregisterService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorNotRegistered);
}

TEST(AutostartLoginItem, AnUnwritableDirectoryIsAnErrorNotACrash) {
  testing::TempDir config;
  std::ofstream(config / "autostart") << "a file where the directory should be";
  AutostartLoginItem item(config / "autostart" / "com.zephro.app.desktop", "zephro");
  const auto error = item.registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorIO);
  EXPECT_EQ(item.status(), 0);
}

TEST(AutostartLoginItem, ExecValuesAreQuotedAndEscaped) {
  // Inside quotes $ takes a backslash, and the entry's own escaping doubles it.
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/bin/zephro", "/usr/bin/zephro"},
      {"/home/me/My Apps/zephro", "\"/home/me/My Apps/zephro\""},
      {"/opt/100%/zephro", "/opt/100%%/zephro"},
      {"/a b/$x", "\"/a b/\\\\$x\""},
      {"/a b/c\\d", "\"/a b/c\\\\\\\\d\""}};
  for (const auto& [path, quoted] : cases) EXPECT_EQ(desktopExecQuoted(path), quoted);
}

// Answers systemctl and pkexec from a script and records what was run or started.
struct ScriptedRunner final : CommandRunner {
  CommandResult run(const Argv& argv) override {
    commands.push_back(argv);
    const auto answer = answers.find(argv.at(0));
    if (answer == answers.end()) return {1, argv.at(0) + ": no scripted answer"};
    return answer->second;
  }
  DetachedProcess startDetached(const DetachedLaunch& launch) override {
    commands.push_back(launch.argv);
    return detached;
  }

  std::map<std::string, CommandResult> answers;
  std::vector<Argv> commands;
  DetachedProcess detached{4242, {}};
};

void installFakeTool(const fs::path& dir, const std::string& name) {
  const auto path = dir / name;
  std::ofstream(path) << "#!/bin/sh\n";
  chmod(path.c_str(), 0755);
}

TEST(StartupSettingsOpener, OpensTheInstalledToolOfTheCurrentDesktopOrLogsWhyNot) {
  testing::TempDir bin;
  const auto runner = std::make_shared<ScriptedRunner>();
  const auto opener = [&](const std::string& desktop) {
    return StartupSettingsOpener(runner, desktop, bin.path().string());
  };
  log::Capture capture;
  opener("").open();
  opener("XFCE").open();  // not installed

  // GNOME prefers its session properties, and falls back to what is installed.
  installFakeTool(bin.path(), "gnome-tweaks");
  installFakeTool(bin.path(), "systemsettings5");
  EXPECT_EQ(opener("ubuntu:GNOME").command(), Argv{"gnome-tweaks"});
  EXPECT_EQ(StartupSettingsOpener(runner, "KDE", "/nonexistent:" + bin.path().string()).command(),
            (Argv{"systemsettings5", "kcm_autostart"}));
  installFakeTool(bin.path(), "gnome-session-properties");
  opener("ubuntu:GNOME").open();
  EXPECT_EQ(runner->commands, std::vector<Argv>{{"gnome-session-properties"}});

  installFakeTool(bin.path(), "xfce4-session-settings");
  runner->detached = {-1, "xfce4-session-settings: Permission denied"};
  opener("XFCE").open();
  const std::string prefix = "[Zephro] Could not open the startup applications settings: ";
  const auto unknown = prefix + "no settings tool is known for this desktop.";
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{unknown, unknown,
                                      prefix + "xfce4-session-settings: Permission denied"}));
}

// The option wins over the variable, systemd is the default, and unknown or missing names
// are errors.
TEST(ServiceManagerFactory, SelectsTheBackendFromTheOptionOrTheVariable) {
  using B = ServiceManagerBackend;
  const std::string known = " (development or systemd)";
  const struct {
    Argv arguments;
    const char* variable;
    B backend;
    std::string error;
  } cases[] = {
      {{}, nullptr, B::systemd, ""},
      {{}, "", B::systemd, ""},
      {{}, "development", B::development, ""},
      {{"--headless", "--service-manager", "development"}, nullptr, B::development, ""},
      {{"--service-manager=development"}, nullptr, B::development, ""},
      {{"--service-manager", "systemd"}, "development", B::systemd, ""},
      {{"--service-manager", "launchd"},
       nullptr,
       B::systemd,
       "--service-manager: unknown service manager \"launchd\"" + known},
      {{}, "dev", B::systemd, "ZEPHRO_SERVICE_MANAGER: unknown service manager \"dev\"" + known},
      {{"--service-manager"},
       "development",
       B::systemd,
       "--service-manager needs a value: development or systemd"},
  };
  for (const auto& c : cases) {
    const auto selected = selectServiceManagerBackend(c.arguments, c.variable);
    EXPECT_EQ(selected.error, c.error) << ::testing::PrintToString(c.arguments);
    if (c.error.empty()) {
      EXPECT_EQ(selected.backend, c.backend);
    }
  }
}

TEST(ServiceManagerFactory, AnInstalledTreeFindsItsHelperProfileAndAnchorBesideTheExecutable) {
  const testing::TempDir root;
  const auto prefix = root.path() / "usr";
  const fs::path helper = prefix / "libexec" / "zephro" / "com.zephro.helper";
  const auto share = prefix / "share" / "zephro";
  fs::create_directories(helper.parent_path());
  fs::create_directories(share / "machines");
  const auto profile = share / "machines" / "macbookpro16-1.json";
  for (const auto& file : {helper, profile, share / "anchor.pub"}) std::ofstream(file) << "x";
  fs::permissions(helper, fs::perms::owner_all);

  const auto paths = ApplicationPaths::forExecutable(prefix / "bin" / "zephro");
  EXPECT_EQ(firstExisting(paths.helperCandidates), helper);
  EXPECT_EQ(firstExisting(paths.machineProfileCandidates), profile);
  EXPECT_EQ(firstExisting(paths.anchorKeyCandidates), share / "anchor.pub");

  const auto setup = makeServiceManager(ServiceManagerBackend::development, paths,
                                        std::make_shared<ProcessCommandRunner>());
  const auto* development = dynamic_cast<const DevelopmentServiceManager*>(setup.manager.get());
  ASSERT_NE(development, nullptr);
  EXPECT_EQ(development->layout().anchorKey, share / "anchor.pub");
  EXPECT_EQ(development->layout().helperExecutable, helper);
}

void touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "[Unit]\n";
}

struct Fixture {
  testing::TempDir dir;
  fs::path units = dir / "resources" / "systemd";
  fs::path script = dir / "zephro-helper-units";
  std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();

  Fixture() {
    touch(units / "com.zephro.helper.socket");
    touch(units / "com.zephro.helper.service");
  }
  [[nodiscard]] SystemdDaemonService service() const {
    return {DaemonUnits::forPlistName(kHelperPlistName), units, script, runner};
  }
};

TEST(SystemdServiceManager, ReadsIsEnabledAnswersAsServiceStatuses) {
  // Installed but switched off (2): the user has to allow it again.
  const std::pair<CommandResult, int> cases[] = {
      {{0, "enabled\n"}, 1},
      {{0, "static\n"}, 1},
      {{1, "disabled\n"}, 2},
      {{1, "linked\n"}, 2},
      {{4, "not-found\n"}, 0},
      {{0, "enabledish\n"}, 0},
      {{1, "Failed to get unit file state for x.socket: No such file or directory\n"}, 0},
  };
  for (const auto& [answer, status] : cases)
    EXPECT_EQ(statusFromIsEnabled(answer), status) << answer.output;
}

TEST(SystemdServiceManager, AsksSystemdAboutTheSocketAndChangesUnitsThroughPolkit) {
  Fixture f;
  f.runner->answers["systemctl"] = {1, "disabled\n"};
  f.runner->answers["pkexec"] = {0, ""};
  auto paths = ApplicationPaths::forExecutable(f.dir / "bin" / "zephro");
  paths.systemdUnitDir = f.units;
  paths.installScript = f.script;
  auto setup = makeServiceManager(ServiceManagerBackend::systemd, paths, f.runner);
  EXPECT_TRUE(setup.helperSocket.empty()) << "the system helper is reached by its service name";

  const auto service = setup.manager->daemonService(kHelperPlistName);
  EXPECT_EQ(service->status(), 2);
  EXPECT_FALSE(service->registerService());
  EXPECT_FALSE(service->unregisterService());
  // The script takes no paths: it knows where the package keeps its units.
  EXPECT_EQ(f.runner->commands,
            (std::vector<Argv>{{"systemctl", "is-enabled", "com.zephro.helper.socket"},
                               {"pkexec", f.script.string(), "install"},
                               {"pkexec", f.script.string(), "remove"}}));
}

TEST(SystemdServiceManager, UnitsMissingFromThePackageReadAsNotFound) {
  Fixture f;
  fs::remove(f.units / "com.zephro.helper.service");
  auto service = f.service();
  EXPECT_EQ(service.status(), 3);
  const auto error = service.registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorNotFound);
  EXPECT_EQ(error->localizedDescription(),
            "The helper's units are missing from " + f.units.string() + ".");
  EXPECT_TRUE(f.runner->commands.empty()) << "nothing may be asked of systemd or polkit";
}

TEST(SystemdServiceManager, AuthenticationOutcomesOfRegistering) {
  // Dismissed: until systemd shows the units the status reads as "requires approval",
  // which is what the registration's caller acts on.
  const struct {
    CommandResult pkexec;
    std::string description;
    int status;
  } cases[] = {
      {{126, ""}, "The administrator authentication was dismissed.", 2},
      {{127, "Error executing command as another user: Not authorized\n"},
       "Not authorized to manage the helper (Error executing command as another user: Not "
       "authorized).",
       0},
      {{3, "zephro-helper-units: /x/com.zephro.helper.socket is missing\n"},
       "The helper's units could not be changed (exit status 3): zephro-helper-units: "
       "/x/com.zephro.helper.socket is missing",
       0},
      {{-1, "could not start pkexec: No such file or directory"},
       "could not start pkexec: No such file or directory",
       0},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.runner->answers["pkexec"] = c.pkexec;
    f.runner->answers["systemctl"] = {4, "not-found\n"};
    auto service = f.service();
    EXPECT_EQ(service.status(), 0);
    const auto error = service.registerService();
    ASSERT_TRUE(error) << c.description;
    EXPECT_EQ(error->localizedDescription(), c.description);
    EXPECT_EQ(service.status(), c.status) << c.description;
    EXPECT_EQ(error->code == kServiceErrorNotAuthorized, c.pkexec.exitCode == 127);
  }
}

pid_t recordedPid(const DevelopmentLayout& layout) {
  const auto text = readFile(layout.registrationFile());
  if (text.rfind("pid=", 0) != 0) return -1;
  return static_cast<pid_t>(std::stol(text.substr(4)));
}

bool gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  std::getline(stat, content);
  const auto close = content.rfind(')');
  return !stat || close == std::string::npos || content[close + 2] == 'Z';
}

struct DevelopmentHelper {
  ~DevelopmentHelper() {
    // Never leave a helper behind, whatever the test did.
    if (const pid_t pid = recordedPid(layout); pid > 0 && !gone(pid)) kill(pid, SIGKILL);
  }
  [[nodiscard]] DevelopmentDaemonService service() const { return {layout, runner}; }

  testing::TempDir dir;
  DevelopmentLayout layout = testing::testHelperLayout(dir / "runtime", dir / "helper.sock");
  std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessCommandRunner>();
};

TEST(DevelopmentServiceManager, RegisteringStartsTheHelperAndUnregisteringStopsIt) {
  DevelopmentHelper h;
  auto service = h.service();
  EXPECT_EQ(service.status(), 0);

  ASSERT_FALSE(service.registerService());
  EXPECT_EQ(service.status(), 1);
  struct stat runtime {};
  ASSERT_EQ(lstat(h.layout.runtimeDir.c_str(), &runtime), 0);
  EXPECT_EQ(runtime.st_mode & 07777, 0700U) << "made private to this user";
  const pid_t first = recordedPid(h.layout);
  ASSERT_GT(first, 0);
  EXPECT_FALSE(gone(first));
  EXPECT_TRUE(fs::exists(h.layout.socketPath));
  // The socket is bound a moment before the helper writes that it listens.
  EXPECT_TRUE(waitForText(h.layout.helperLogFile(), "[ZephroHelper] XPC listener is running."));

  // Registering again runs a fresh helper from the current binary.
  ASSERT_FALSE(service.registerService());
  const pid_t second = recordedPid(h.layout);
  EXPECT_NE(second, first);
  EXPECT_TRUE(gone(first));
  EXPECT_FALSE(gone(second));

  // Another object (as the next registration run makes) sees the same registration.
  auto again = h.service();
  EXPECT_EQ(again.status(), 1);
  ASSERT_FALSE(again.unregisterService());
  EXPECT_TRUE(gone(second));
  EXPECT_EQ(service.status(), 0);
  EXPECT_FALSE(fs::exists(h.layout.socketPath)) << "the helper removes its socket";
  const auto error = service.unregisterService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorNotRegistered);
}

TEST(DevelopmentServiceManager, MissingPiecesReadAsNotFoundAndAFailedStartIsAnError) {
  DevelopmentHelper h;
  const auto helper = h.layout.helperExecutable;
  h.layout.helperExecutable = h.dir / "com.zephro.helper";
  EXPECT_EQ(h.service().status(), 3);
  auto error = h.service().registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedDescription(),
            "The helper executable " + h.layout.helperExecutable.string() + " is missing.");
  h.layout.helperExecutable = helper;
  h.layout.machineProfile = h.dir / "nosuch.json";
  EXPECT_EQ(h.service().status(), 3);

  // The manager knows one daemon; other names are not found.
  DevelopmentServiceManager manager(h.layout, h.runner,
                                    std::make_unique<AutostartLoginItem>(h.dir / "a.desktop", "z"),
                                    StartupSettingsOpener(h.runner, "", ""));
  EXPECT_EQ(manager.daemonService("com.example.other.plist")->status(), 3);

  // A helper that refuses to start (here: no anchor key) is reported with its own words.
  h.layout.machineProfile = testing::sourcePath("platform/smc/machines/macbookpro16-1.json");
  h.layout.anchorKey = h.dir / "no-anchor.pub";
  auto service = h.service();
  error = service.registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorLaunchFailed);
  EXPECT_EQ(error->localizedDescription().rfind(
                "The helper stopped at start: [ZephroHelper] Cannot load the code-signing anchor "
                "key: ",
                0),
            0u)
      << error->localizedDescription();
  EXPECT_EQ(service.status(), 0);
}

TEST(DevelopmentServiceManager, NeverSignalsAProcessThatIsNotTheHelper) {
  DevelopmentHelper h;
  // A stale record whose pid now belongs to someone else (this test).
  ASSERT_EQ(mkdir(h.layout.runtimeDir.c_str(), 0700), 0);
  std::ofstream(h.layout.registrationFile()) << "pid=" << getpid() << "\n";
  auto service = h.service();
  EXPECT_EQ(service.status(), 1);
  ASSERT_FALSE(service.unregisterService());  // we are still here to check
  EXPECT_EQ(service.status(), 0);
}

TEST(DevelopmentServiceManager, RefusesARuntimeDirectoryThatIsNotThisUsersAlone) {
  // Each case puts something in the runtime directory's place and names why it is refused.
  struct Case {
    std::function<void(const DevelopmentHelper&)> plant;
    std::string why;
  };
  const auto privateDir = [](const fs::path& dir) {
    EXPECT_EQ(mkdir(dir.c_str(), 0700), 0) << dir;
  };
  std::vector<Case> cases = {
      {[&](auto& h) {
         privateDir(h.layout.runtimeDir);
         EXPECT_EQ(chmod(h.layout.runtimeDir.c_str(), 0755), 0);
       },
       "has mode 0755, not 0700"},
      {[&](auto& h) {
         privateDir(h.dir / "elsewhere");
         fs::create_symlink(h.dir / "elsewhere", h.layout.runtimeDir);
       },
       "is a symbolic link"},
      {[](auto& h) { std::ofstream(h.layout.runtimeDir) << "pid=1\n"; }, "is not a directory"},
  };
  if (geteuid() == 0) {
    // Another user's, with a registration in it that must not count.
    cases.push_back({[&](auto& h) {
                       privateDir(h.layout.runtimeDir);
                       std::ofstream(h.layout.registrationFile()) << "pid=1\n";
                       EXPECT_EQ(chown(h.layout.runtimeDir.c_str(), 65534, 65534), 0);
                     },
                     "belongs to user 65534, not to this user"});
  }
  for (const auto& c : cases) {
    DevelopmentHelper h;
    c.plant(h);
    auto service = h.service();
    EXPECT_EQ(service.status(), 0) << c.why;
    for (const auto& error : {service.registerService(), service.unregisterService()}) {
      ASSERT_TRUE(error) << c.why;
      EXPECT_EQ(error->code, kServiceErrorIO);
      EXPECT_EQ(error->localizedDescription(), "The runtime directory " +
                                                   h.layout.runtimeDir.string() + " " + c.why +
                                                   "; refusing to use it.");
    }
    EXPECT_FALSE(fs::exists(h.layout.socketPath)) << c.why << ": nothing started";
  }
}

constexpr auto kSocket = "com.zephro.helper.socket";
constexpr auto kService = "com.zephro.helper.service";
constexpr auto kUsage = "usage: zephro-helper-units install | remove\n";
constexpr uid_t kNobody = 65534;

void write(const fs::path& file, const std::string& content, fs::perms mode) {
  std::ofstream(file) << content;
  fs::permissions(file, mode);
}

void replaceAll(std::string& text, const std::string& token, const std::string& value) {
  for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
    text.replace(at, token.size(), value);
    at += value.size();
  }
}

// A root of our own with the package's unit directory, systemd's, and a systemctl that
// only writes down how it was called; the install script configured for it the way the
// build configures it for the real system.
struct UnitsRoot {
  testing::TempDir root;
  fs::path shipped = root / "share/zephro/systemd";
  fs::path target = root / "etc/systemd/system";
  fs::path bin = root / "bin";
  fs::path systemctlLog = root / "systemctl.log";
  fs::path script = root / "zephro-helper-units";

  UnitsRoot() {
    fs::create_directories(target);
    fs::create_directories(bin);
    fs::create_directories(shipped);
    for (const auto& dir : {root / "share", root / "share/zephro", shipped})
      fs::permissions(dir, fs::perms(0755));
    write(shipped / kSocket, "[Socket]\nListenStream=/run/com.zephro.helper.sock\n",
          fs::perms(0644));
    // Installed world-readable whatever its mode here.
    write(shipped / kService, "[Service]\nExecStart=/usr/libexec/zephro/com.zephro.helper\n",
          fs::perms(0600));
    write(bin / "systemctl", "#!/bin/sh\necho \"$*\" >> '" + systemctlLog.string() + "'\n",
          fs::perms(0755));

    auto text = readFile(testing::sourcePath("platform/servicemanager/zephro-helper-units.in"));
    replaceAll(text, "@ZEPHRO_UNITS_PATH@", bin.string() + ":/usr/bin:/bin");
    replaceAll(text, "@ZEPHRO_UNIT_SOURCE_DIR@", shipped.string());
    replaceAll(text, "@ZEPHRO_UNIT_TARGET_DIR@", target.string());
    write(script, text, fs::perms(0755));
  }

  [[nodiscard]] CommandResult run(Argv arguments) const {
    arguments.insert(arguments.begin(), script.string());
    return ProcessCommandRunner().run(arguments);
  }
  [[nodiscard]] bool untouched() const { return fs::is_empty(target) && !fs::exists(systemctlLog); }
};

TEST(HelperUnitsScript, InstallsTheShippedUnitsWorldReadableAndRemovesThem) {
  if (geteuid() != 0) GTEST_SKIP() << "the shipped units must belong to root";
  const UnitsRoot r;
  const auto installed = r.run({"install"});
  ASSERT_EQ(installed.exitCode, 0) << installed.output;
  EXPECT_EQ(installed.output, "");
  for (const auto* unit : {kSocket, kService}) {
    struct stat info {};
    ASSERT_EQ(lstat((r.target / unit).c_str(), &info), 0) << unit;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << unit;
    EXPECT_EQ(info.st_mode & 07777, 0644U) << unit;
    EXPECT_EQ(info.st_uid, 0U) << unit;
    EXPECT_EQ(readFile(r.target / unit), readFile(r.shipped / unit)) << unit;
  }
  EXPECT_EQ(readFile(r.systemctlLog),
            "daemon-reload\n"
            "stop com.zephro.helper.service\n"
            "unmask com.zephro.helper.socket com.zephro.helper.service\n"
            "enable com.zephro.helper.socket\n"
            "restart com.zephro.helper.socket\n");

  fs::remove(r.systemctlLog);
  const auto removed = r.run({"remove"});
  ASSERT_EQ(removed.exitCode, 0) << removed.output;
  EXPECT_TRUE(fs::is_empty(r.target));
  EXPECT_EQ(readFile(r.systemctlLog),
            "disable --now com.zephro.helper.socket\n"
            "stop com.zephro.helper.service\n"
            "daemon-reload\n");
}

TEST(HelperUnitsScript, RefusesUnitsThatAnyoneButRootCouldHaveWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a unit to another user needs root";
  // Each case spoils the shipped units, then names what is refused (under the root) and why.
  struct Case {
    std::function<void(const UnitsRoot&)> spoil;
    std::string refused, why;
  };
  const std::string dir = "share/zephro/systemd";
  const std::string socket = dir + "/" + kSocket;
  const std::string service = dir + "/" + kService;
  const auto toNobody = [](const fs::path& path) {
    EXPECT_EQ(chown(path.c_str(), kNobody, kNobody), 0) << path;
  };
  const std::vector<Case> cases = {
      {[](auto& r) {
         write(r.root / "secret", "root only\n", fs::perms(0600));
         fs::remove(r.shipped / kSocket);
         fs::create_symlink(r.root / "secret", r.shipped / kSocket);
       },
       socket, "is a symbolic link"},
      {[&](auto& r) { toNobody(r.shipped / kService); }, service, "is not owned by root"},
      {[](auto& r) { fs::permissions(r.shipped / kSocket, fs::perms(0664)); }, socket,
       "is writable by group or others"},
      {[](auto& r) { fs::permissions(r.shipped / kService, fs::perms(0646)); }, service,
       "is writable by group or others"},
      {[](auto& r) {
         fs::remove(r.shipped / kSocket);
         fs::create_directory(r.shipped / kSocket);
       },
       socket, "is not a regular file"},
      {[](auto& r) { fs::remove(r.shipped / kService); }, service, "is missing"},
      {[&](auto& r) { toNobody(r.shipped); }, dir, "is not owned by root"},
      // Not sticky, unlike /tmp above it.
      {[](auto& r) { fs::permissions(r.root / "share", fs::perms(0777)); }, "share",
       "is writable by group or others"},
      {[](auto& r) { fs::remove_all(r.shipped); }, dir, "is missing"},
  };
  for (const auto& c : cases) {
    const UnitsRoot r;
    c.spoil(r);
    const auto expected = (fs::canonical(r.root.path()) / c.refused).string() + " " + c.why;
    const auto result = r.run({"install"});
    EXPECT_EQ(result.exitCode, 3) << expected;
    EXPECT_EQ(result.output, "zephro-helper-units: " + expected + "\n");
    EXPECT_TRUE(r.untouched()) << expected;
  }
}

TEST(HelperUnitsScript, TakesNoPathsOrOtherArguments) {
  const UnitsRoot r;
  const std::vector<Argv> refused = {
      {}, {"install", r.shipped.string()}, {"install", "extra"}, {"remove", "extra"}, {"enable"}};
  for (const auto& arguments : refused) {
    const auto result = r.run(arguments);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(arguments);
    EXPECT_EQ(result.output, kUsage) << ::testing::PrintToString(arguments);
    EXPECT_TRUE(r.untouched()) << ::testing::PrintToString(arguments);
  }
}

// The usage refusal of the built script is the template's, checked above.
TEST(HelperUnitsScript, TheBuiltScriptLooksWhereTheApplicationDoes) {
  const auto text = readFile(testing::binaryPath("platform/servicemanager/zephro-helper-units"));
  EXPECT_EQ(text.find("@ZEPHRO_"), std::string::npos) << "every placeholder is filled in";
  const auto paths = ApplicationPaths::forExecutable("/opt/elsewhere/bin/zephro");
  EXPECT_NE(text.find("\nshipped='" + paths.systemdUnitDir.string() + "'\n"), std::string::npos);
  EXPECT_EQ(paths.installScript.filename(), "zephro-helper-units");
}

}  // namespace
}  // namespace zephro
