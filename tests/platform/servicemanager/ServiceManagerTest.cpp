#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
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
using Outcome = std::pair<int, std::string>;
using testing::readFile;

Outcome outcome(const CommandResult& result) {
  return {result.exitCode, result.output};
}
std::int64_t code(const std::optional<Error>& error) {
  return error ? error->code : 0;
}
std::string text(const std::optional<Error>& error) {
  return error ? error->localizedDescription() : "";
}

// Lays out a test's files as a shell in the directory would, root's powers included.
void sh(const fs::path& dir, const std::string& script) {
  EXPECT_EQ(outcome(ProcessCommandRunner().run({"sh", "-ec", "cd \"$0\"; " + script, dir})),
            Outcome(0, ""))
      << script;
}

// Until the file holds the text; false after a minute, generous for a loaded machine.
bool waitForText(const fs::path& file, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (readFile(file).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(ProcessCommandRunner, RunsToTheEndOrStartsDetachedInASessionOfItsOwn) {
  ProcessCommandRunner runner;
  EXPECT_EQ(outcome(runner.run({"sh", "-c", "echo out; echo err >&2; exit 3"})),
            Outcome(3, "out\nerr\n"));
  EXPECT_EQ(runner.run({"sh", "-c", "kill -TERM $$"}).exitCode, 128 + SIGTERM);
  EXPECT_EQ(outcome(runner.run({"zephro-no-such-program"})),
            Outcome(-1, "could not start zephro-no-such-program: No such file or directory"));

  testing::TempDir dir;
  const auto log = dir / "out.log";
  const auto probe = "set -- $(cut -d' ' -f4,6 /proc/$$/stat); echo $ZEPHRO_PROBE $(($1 != " +
                     std::to_string(getpid()) + ")) $(($2 != " + std::to_string(getsid(0)) + "))";
  const auto started = runner.startDetached({{"sh", "-c", probe}, {{"ZEPHRO_PROBE", "on"}}, log});
  ASSERT_GT(started.pid, 0) << started.error;
  ASSERT_TRUE(waitForText(log, "\n"));
  EXPECT_EQ(readFile(log), "on 1 1\n") << "not this process's child, in a session of its own";

  // The last case: a link in the log's place is not written through.
  const auto linked = dir / "linked.log";
  fs::create_symlink(log, linked);
  const std::pair<DetachedLaunch, std::string> failures[] = {
      {{{"/nonexistent/zephro-helper"}, {}, {}},
       "could not start /nonexistent/zephro-helper: No such file or directory"},
      {{{"zephro-no-such-program"}, {}, {}}, "zephro-no-such-program was not found"},
      {{{"sh", "-c", "echo written"}, {}, linked},
       linked.string() + ": Too many levels of symbolic links"}};
  for (const auto& [failing, error] : failures) {
    const auto failed = runner.startDetached(failing);
    EXPECT_EQ(std::pair(failed.pid, failed.error), std::pair(-1, error));
  }
}

TEST(AutostartLoginItem, EnabledExactlyWhileTheEntryIsPresentAndNotHidden) {
  testing::TempDir config;
  const auto file = config / "autostart" / "com.zephro.app.desktop";
  AutostartLoginItem item(file, "/opt/zephro/bin/zephro");
  EXPECT_EQ(item.status(), 0);
  EXPECT_EQ(code(item.registerService()), 0);
  EXPECT_EQ(item.status(), 1);
  EXPECT_TRUE(readFile(file).starts_with("[Desktop Entry]\nType=Application\n"));
  EXPECT_NE(readFile(file).find("\nExec=/opt/zephro/bin/zephro\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(file.string() + ".new"));

  // A desktop records the user's "off" as Hidden=true; only the main group counts.
  const std::pair<const char*, int> entries[] = {
      {"[Desktop Entry]\nHidden=false\n[Desktop Action Quit]\nHidden=true\n", 1},
      {"[Desktop Entry]\nExec=zephro\n Hidden = true \n", 0}};
  for (const auto& [entry, status] : entries) {
    std::ofstream(file) << entry;
    EXPECT_EQ(item.status(), status) << entry;
  }
  // Registering again turns the hidden entry back on.
  EXPECT_EQ(code(item.registerService()), 0);
  EXPECT_EQ(item.status(), 1);

  EXPECT_EQ(code(item.unregisterService()), 0);
  EXPECT_EQ(item.status(), 0);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(code(item.unregisterService()), kServiceErrorNotRegistered);

  // An unwritable directory is an error, not a crash.
  fs::remove_all(config / "autostart");
  std::ofstream(config / "autostart") << "a file where the directory should be";
  EXPECT_EQ(code(item.registerService()), kServiceErrorIO);

  // Inside quotes $ takes a backslash, and the entry's own escaping doubles it.
  const std::pair<const char*, const char*> quoted[] = {{"/opt/100%/zephro", "/opt/100%%/zephro"},
                                                        {"/a b/$x", "\"/a b/\\\\$x\""},
                                                        {"/a b/c\\d", "\"/a b/c\\\\\\\\d\""}};
  for (const auto& [path, exec] : quoted) EXPECT_EQ(desktopExecQuoted(path), exec);
}

// Answers systemctl and pkexec from a script and records what was run or started.
struct ScriptedRunner final : CommandRunner {
  CommandResult run(const Argv& argv) override {
    commands.push_back(argv);
    const auto answer = answers.find(argv.at(0));
    return answer == answers.end() ? CommandResult{1, argv.at(0) + ": no scripted answer"}
                                   : answer->second;
  }
  DetachedProcess startDetached(const DetachedLaunch& launch) override {
    commands.push_back(launch.argv);
    return detached;
  }

  std::map<std::string, CommandResult> answers;
  std::vector<Argv> commands;
  DetachedProcess detached{4242, {}};
};

TEST(StartupSettingsOpener, OpensTheInstalledToolOfTheCurrentDesktopOrLogsWhyNot) {
  testing::TempDir bin;
  const auto runner = std::make_shared<ScriptedRunner>();
  const auto opener = [&](const std::string& desktop) {
    return StartupSettingsOpener(runner, desktop, bin.path().string());
  };
  const auto install = [&](const std::string& tools) {
    sh(bin.path(), "for t in " + tools + "; do echo '#!/bin/sh' > $t; chmod 755 $t; done");
  };
  log::Capture capture;
  opener("XFCE").open();  // not installed

  // GNOME prefers its session properties, and falls back to what is installed.
  install("gnome-tweaks systemsettings5");
  EXPECT_EQ(opener("ubuntu:GNOME").command(), Argv{"gnome-tweaks"});
  EXPECT_EQ(StartupSettingsOpener(runner, "KDE", "/nonexistent:" + bin.path().string()).command(),
            (Argv{"systemsettings5", "kcm_autostart"}));
  install("gnome-session-properties");
  opener("ubuntu:GNOME").open();
  EXPECT_EQ(runner->commands, std::vector<Argv>{{"gnome-session-properties"}});

  install("xfce4-session-settings");
  runner->detached = {-1, "xfce4-session-settings: Permission denied"};
  opener("XFCE").open();
  const std::string prefix = "[Zephro] Could not open the startup applications settings: ";
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{prefix + "no settings tool is known for this desktop.",
                                      prefix + "xfce4-session-settings: Permission denied"}));
}

// The option wins over the variable; systemd is the default.
TEST(ServiceManagerFactory, SelectsTheBackendFromTheOptionOrTheVariable) {
  using B = ServiceManagerBackend;
  const std::string sm = "--service-manager";
  const std::string known = " (development or systemd)";
  const struct {
    Argv arguments;
    const char* variable;
    B backend;
    std::string error;
  } cases[] = {
      {{}, "", B::systemd, ""},
      {{}, "development", B::development, ""},
      {{"--headless", sm, "development"}, nullptr, B::development, ""},
      {{sm + "=development"}, nullptr, B::development, ""},
      {{sm, "systemd"}, "development", B::systemd, ""},
      {{sm, "launchd"}, nullptr, B::systemd, sm + ": unknown service manager \"launchd\"" + known},
      {{}, "dev", B::systemd, "ZEPHRO_SERVICE_MANAGER: unknown service manager \"dev\"" + known},
      {{sm}, "development", B::systemd, sm + " needs a value: development or systemd"},
  };
  for (const auto& c : cases) {
    const auto selected = selectServiceManagerBackend(c.arguments, c.variable);
    EXPECT_EQ(std::pair(selected.backend, selected.error), std::pair(c.backend, c.error))
        << ::testing::PrintToString(c.arguments);
  }
}

TEST(ServiceManagerFactory, AnInstalledTreeFindsItsHelperProfileAndAnchorBesideTheExecutable) {
  const testing::TempDir root;
  sh(root.path(),
     "mkdir -p usr/libexec/zephro usr/share/zephro/machines; cd usr; "
     "touch libexec/zephro/com.zephro.helper share/zephro/machines/macbookpro16-1.json "
     "share/zephro/anchor.pub; chmod 700 libexec/zephro/com.zephro.helper");
  const auto setup =
      makeServiceManager(ServiceManagerBackend::development,
                         ApplicationPaths::forExecutable(root / "usr/bin/zephro"), nullptr);
  const auto* development = dynamic_cast<const DevelopmentServiceManager*>(setup.manager.get());
  ASSERT_NE(development, nullptr);
  const auto& layout = development->layout();
  EXPECT_EQ(std::tuple(layout.helperExecutable, layout.machineProfile, layout.anchorKey),
            std::tuple(root / "usr/libexec/zephro/com.zephro.helper",
                       root / "usr/share/zephro/machines/macbookpro16-1.json",
                       root / "usr/share/zephro/anchor.pub"));
}

// The package's units, and systemctl and pkexec answering from a script.
struct Systemd {
  Systemd() {
    sh(dir.path(),
       "mkdir u; for t in socket service; do echo [Unit] > u/com.zephro.helper.$t; done");
  }
  [[nodiscard]] SystemdDaemonService service() const {
    return {DaemonUnits::forPlistName(kHelperPlistName), units, script, runner};
  }

  testing::TempDir dir;
  fs::path units = dir / "u";
  fs::path script = dir / "zephro-helper-units";
  std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
};

TEST(SystemdServiceManager, ReadsIsEnabledAnswersAsServiceStatuses) {
  // Switched off (2) and not found (0) are read in the tests below.
  EXPECT_EQ(statusFromIsEnabled({0, "enabled\n"}), 1);
  EXPECT_EQ(statusFromIsEnabled({0, "enabledish\n"}), 0);
}

TEST(SystemdServiceManager, AsksSystemdAboutTheSocketAndChangesUnitsThroughPolkit) {
  Systemd f;
  f.runner->answers = {{"systemctl", {1, "disabled\n"}}, {"pkexec", {0, ""}}};
  auto paths = ApplicationPaths::forExecutable(f.dir / "bin/zephro");
  paths.systemdUnitDir = f.units;
  paths.installScript = f.script;
  auto setup = makeServiceManager(ServiceManagerBackend::systemd, paths, f.runner);
  EXPECT_TRUE(setup.helperSocket.empty()) << "the system helper is reached by its service name";
  const auto service = setup.manager->daemonService(kHelperPlistName);
  EXPECT_EQ(service->status(), 2);
  EXPECT_EQ(code(service->registerService()), 0);
  EXPECT_EQ(code(service->unregisterService()), 0);
  // The script takes no paths: it knows where the package keeps its units.
  EXPECT_EQ(f.runner->commands,
            (std::vector<Argv>{{"systemctl", "is-enabled", "com.zephro.helper.socket"},
                               {"pkexec", f.script.string(), "install"},
                               {"pkexec", f.script.string(), "remove"}}));

  // Units missing from the package read as not found, and nothing is asked of anyone.
  f.runner->commands.clear();
  fs::remove(f.units / "com.zephro.helper.service");
  auto missing = f.service();
  EXPECT_EQ(missing.status(), 3);
  const auto error = missing.registerService();
  EXPECT_EQ(code(error), kServiceErrorNotFound);
  EXPECT_EQ(text(error), "The helper's units are missing from " + f.units.string() + ".");
  EXPECT_EQ(f.runner->commands, std::vector<Argv>{});
}

TEST(SystemdServiceManager, AuthenticationOutcomesOfRegistering) {
  // Until systemd shows the units the status reads "requires approval", which callers act on.
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
  Systemd f;
  for (const auto& c : cases) {
    f.runner->answers = {{"pkexec", c.pkexec}, {"systemctl", {4, "not-found\n"}}};
    auto service = f.service();
    EXPECT_EQ(service.status(), 0);
    const auto error = service.registerService();
    EXPECT_EQ(text(error), c.description);
    EXPECT_EQ(service.status(), c.status) << c.description;
    EXPECT_EQ(code(error) == kServiceErrorNotAuthorized, c.pkexec.exitCode == 127);
  }
}

pid_t recordedPid(const DevelopmentLayout& layout) {
  const auto record = readFile(layout.registrationFile());
  return record.starts_with("pid=") ? static_cast<pid_t>(std::stol(record.substr(4))) : -1;
}

bool gone(pid_t pid) {
  const auto stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || stat[close + 2] == 'Z';
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
  ASSERT_EQ(code(service.registerService()), 0);
  EXPECT_EQ(service.status(), 1);
  EXPECT_EQ(fs::symlink_status(h.layout.runtimeDir).permissions(), fs::perms::owner_all)
      << "made private to this user";
  const pid_t first = recordedPid(h.layout);
  ASSERT_GT(first, 0);
  // The socket is bound a moment before the helper writes that it listens.
  EXPECT_TRUE(waitForText(h.layout.helperLogFile(), "[ZephroHelper] XPC listener is running."));

  EXPECT_EQ(code(service.unregisterService()), 0);
  EXPECT_TRUE(gone(first));
  EXPECT_EQ(service.status(), 0);
  EXPECT_FALSE(fs::exists(h.layout.socketPath)) << "the helper removes its socket";
  EXPECT_EQ(code(service.unregisterService()), kServiceErrorNotRegistered);

  // A stale record whose pid now belongs to someone else (this test) is never signalled.
  sh(h.dir.path(), "echo pid=" + std::to_string(getpid()) + " > runtime/helper-registration");
  EXPECT_EQ(service.status(), 1);
  EXPECT_EQ(code(service.unregisterService()), 0);  // we are still here to check
  EXPECT_EQ(service.status(), 0);
}

TEST(DevelopmentServiceManager, MissingPiecesReadAsNotFoundAndAFailedStartIsAnError) {
  DevelopmentHelper h;
  const auto helper = h.layout.helperExecutable;
  h.layout.helperExecutable = h.dir / "com.zephro.helper";
  EXPECT_EQ(h.service().status(), 3);
  EXPECT_EQ(text(h.service().registerService()),
            "The helper executable " + h.layout.helperExecutable.string() + " is missing.");
  h.layout.helperExecutable = helper;

  // A helper that refuses to start (here: no anchor key) is reported with its own words.
  h.layout.anchorKey = h.dir / "no-anchor.pub";
  auto service = h.service();
  const auto error = service.registerService();
  EXPECT_EQ(code(error), kServiceErrorLaunchFailed);
  EXPECT_TRUE(text(error).starts_with(
      "The helper stopped at start: [ZephroHelper] Cannot load the code-signing anchor key: "))
      << text(error);
  EXPECT_EQ(service.status(), 0);
}

TEST(DevelopmentServiceManager, RefusesARuntimeDirectoryThatIsNotThisUsersAlone) {
  // Each case puts something in the runtime directory's place and names why it is refused.
  std::vector<std::pair<std::string, std::string>> cases = {
      {"mkdir -m 0755 runtime", "has mode 0755, not 0700"},
      {"mkdir -m 0700 elsewhere; ln -s \"$PWD/elsewhere\" runtime", "is a symbolic link"},
      {"echo pid=1 > runtime", "is not a directory"},
  };
  // Another user's, with a registration in it that must not count.
  if (geteuid() == 0) {
    cases.emplace_back(
        "mkdir -m 0700 runtime; echo pid=1 > runtime/helper-registration; chown 65534:65534 "
        "runtime",
        "belongs to user 65534, not to this user");
  }
  for (const auto& [plant, why] : cases) {
    DevelopmentHelper h;
    sh(h.dir.path(), plant);
    auto service = h.service();
    EXPECT_EQ(service.status(), 0) << why;
    for (const auto& error : {service.registerService(), service.unregisterService()}) {
      EXPECT_EQ(code(error), kServiceErrorIO) << why;
      EXPECT_EQ(text(error), "The runtime directory " + h.layout.runtimeDir.string() + " " + why +
                                 "; refusing to use it.");
    }
    EXPECT_FALSE(fs::exists(h.layout.socketPath)) << why << ": nothing started";
  }
}

constexpr auto kUsage = "usage: zephro-helper-units install | remove\n";

// The package's and systemd's unit folders, a recording systemctl, the configured install script.
struct UnitsRoot {
  UnitsRoot() {
    // The service is installed world-readable whatever its mode here.
    sh(root.path(),
       "umask 022; mkdir -p share/zephro/systemd etc/systemd/system bin; cd share/zephro/systemd; "
       "for t in socket service; do echo \"[$t]\" > com.zephro.helper.$t; done; "
       "chmod 600 com.zephro.helper.service; cd ../../..; "
       "printf '#!/bin/sh\\necho \"$*\" >> \"%s/systemctl.log\"\\n' \"$PWD\" > bin/systemctl; "
       "chmod 755 bin/systemctl; sed -e \"s|@ZEPHRO_UNITS_PATH@|$PWD/bin:/usr/bin:/bin|g\" "
       "-e \"s|@ZEPHRO_UNIT_SOURCE_DIR@|$PWD/share/zephro/systemd|g\" "
       "-e \"s|@ZEPHRO_UNIT_TARGET_DIR@|$PWD/etc/systemd/system|g\" '" +
           testing::sourcePath("platform/servicemanager/zephro-helper-units.in").string() +
           "' > zephro-helper-units; chmod 755 zephro-helper-units");
  }
  [[nodiscard]] CommandResult run(Argv arguments) const {
    arguments.insert(arguments.begin(), (root / "zephro-helper-units").string());
    return ProcessCommandRunner().run(arguments);
  }
  [[nodiscard]] bool untouched() const { return fs::is_empty(target) && !fs::exists(log); }

  testing::TempDir root;
  fs::path shipped = root / "share/zephro/systemd";
  fs::path target = root / "etc/systemd/system";
  fs::path log = root / "systemctl.log";
};

TEST(HelperUnitsScript, InstallsTheShippedUnitsWorldReadableAndRemovesThem) {
  if (geteuid() != 0) GTEST_SKIP() << "the shipped units must belong to root";
  const UnitsRoot r;
  EXPECT_EQ(outcome(r.run({"install"})), Outcome(0, ""));
  const auto socket = r.target / "com.zephro.helper.socket";
  const auto service = r.target / "com.zephro.helper.service";
  EXPECT_EQ(outcome(ProcessCommandRunner().run({"stat", "-c", "%F %a %U", socket, service})),
            Outcome(0, "regular file 644 root\nregular file 644 root\n"));
  EXPECT_EQ(readFile(socket), readFile(r.shipped / socket.filename()));
  EXPECT_EQ(readFile(service), readFile(r.shipped / service.filename()));
  EXPECT_EQ(readFile(r.log),
            "daemon-reload\n"
            "stop com.zephro.helper.service\n"
            "unmask com.zephro.helper.socket com.zephro.helper.service\n"
            "enable com.zephro.helper.socket\n"
            "restart com.zephro.helper.socket\n");

  fs::remove(r.log);
  EXPECT_EQ(outcome(r.run({"remove"})), Outcome(0, ""));
  EXPECT_TRUE(fs::is_empty(r.target));
  EXPECT_EQ(readFile(r.log),
            "disable --now com.zephro.helper.socket\n"
            "stop com.zephro.helper.service\n"
            "daemon-reload\n");
}

TEST(HelperUnitsScript, RefusesUnitsThatAnyoneButRootCouldHaveWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a unit to another user needs root";
  // Each case spoils the shipped units, then names what is refused (under the root) and why.
  const std::string dir = "share/zephro/systemd";
  const std::string socket = dir + "/com.zephro.helper.socket";
  const std::string service = dir + "/com.zephro.helper.service";
  const struct {
    std::string spoil, refused, why;
  } cases[] = {
      {"echo x > secret; chmod 600 secret; ln -sf \"$PWD/secret\" " + socket, socket,
       "is a symbolic link"},
      {"chown 65534:65534 " + service, service, "is not owned by root"},
      {"chmod 664 " + socket, socket, "is writable by group or others"},
      {"chmod 646 " + service, service, "is writable by group or others"},
      {"rm " + socket + "; mkdir " + socket, socket, "is not a regular file"},
      {"rm " + service, service, "is missing"},
      // Not sticky, unlike /tmp above it.
      {"chmod 777 share", "share", "is writable by group or others"},
      {"rm -r " + dir, dir, "is missing"},
  };
  for (const auto& c : cases) {
    const UnitsRoot r;
    sh(r.root.path(), c.spoil);
    const auto expected = (fs::canonical(r.root.path()) / c.refused).string() + " " + c.why;
    EXPECT_EQ(outcome(r.run({"install"})), Outcome(3, "zephro-helper-units: " + expected + "\n"));
    EXPECT_TRUE(r.untouched()) << expected;
  }
}

TEST(HelperUnitsScript, TakesNoPathsOrOtherArgumentsAndIsBuiltForWhereTheApplicationLooks) {
  const UnitsRoot r;
  const std::vector<Argv> refused = {{}, {"install", r.shipped.string()}, {"remove", "extra"}};
  for (const auto& arguments : refused) {
    EXPECT_EQ(outcome(r.run(arguments)), Outcome(2, kUsage)) << ::testing::PrintToString(arguments);
    EXPECT_TRUE(r.untouched()) << ::testing::PrintToString(arguments);
  }

  const auto built = readFile(testing::binaryPath("platform/servicemanager/zephro-helper-units"));
  EXPECT_EQ(built.find("@ZEPHRO_"), std::string::npos) << "every placeholder is filled in";
  const auto paths = ApplicationPaths::forExecutable("/opt/elsewhere/bin/zephro");
  EXPECT_NE(built.find("\nshipped='" + paths.systemdUnitDir.string() + "'\n"), std::string::npos);
  EXPECT_EQ(paths.installScript.filename(), "zephro-helper-units");
}

}  // namespace
}  // namespace zephro
