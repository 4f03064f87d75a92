#include "platform/servicemanager/SystemdServiceManager.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <mutex>

#include "platform/servicemanager/ServiceErrors.h"
#include "platform/servicemanager/ServiceManagerFactory.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using Argv = std::vector<std::string>;

// Answers systemctl and pkexec from a script and records what was run.
class ScriptedRunner final : public CommandRunner {
 public:
  void answer(const std::string& program, CommandResult result) {
    const std::lock_guard lock(mutex_);
    answers_[program].push_back(std::move(result));
  }
  [[nodiscard]] std::vector<Argv> commands() const {
    const std::lock_guard lock(mutex_);
    return commands_;
  }

  CommandResult run(const Argv& argv) override {
    const std::lock_guard lock(mutex_);
    commands_.push_back(argv);
    auto& queue = answers_[argv.at(0)];
    if (queue.empty()) return {1, argv.at(0) + ": no scripted answer"};
    auto result = queue.front();
    if (queue.size() > 1) queue.pop_front();
    return result;
  }
  DetachedProcess startDetached(const DetachedLaunch& launch) override {
    const std::lock_guard lock(mutex_);
    commands_.push_back(launch.argv);
    return {-1, "not here"};
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<CommandResult>> answers_;
  std::vector<Argv> commands_;
};

void touch(const std::filesystem::path& file) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "[Unit]\n";
}

struct Fixture {
  testing::TempDir dir;
  std::filesystem::path units = dir / "resources" / "systemd";
  std::filesystem::path script = dir / "zephro-helper-units";
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
  EXPECT_EQ(statusFromIsEnabled({0, "enabled\n"}), 1);
  EXPECT_EQ(statusFromIsEnabled({0, "static\n"}), 1);
  // Installed but switched off: the user has to allow it again.
  EXPECT_EQ(statusFromIsEnabled({1, "disabled\n"}), 2);
  EXPECT_EQ(statusFromIsEnabled({1, "linked\n"}), 2);
  EXPECT_EQ(statusFromIsEnabled({4, "not-found\n"}), 0);
  EXPECT_EQ(statusFromIsEnabled(
                {1,
                 "Failed to get unit file state for com.zephro.helper.socket: No such file or "
                 "directory\n"}),
            0);
  EXPECT_EQ(statusFromIsEnabled({0, "enabledish\n"}), 0);
}

TEST(SystemdServiceManager, AsksSystemdAboutTheSocketAndChangesUnitsThroughPolkit) {
  Fixture f;
  f.runner->answer("systemctl", {1, "disabled\n"});
  f.runner->answer("pkexec", {0, ""});
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
  EXPECT_EQ(f.runner->commands(),
            (std::vector<Argv>{{"systemctl", "is-enabled", "com.zephro.helper.socket"},
                               {"pkexec", f.script.string(), "install"},
                               {"pkexec", f.script.string(), "remove"}}));
}

TEST(SystemdServiceManager, UnitsMissingFromThePackageReadAsNotFound) {
  Fixture f;
  std::filesystem::remove(f.units / "com.zephro.helper.service");
  auto service = f.service();
  EXPECT_EQ(service.status(), 3);
  const auto error = service.registerService();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kServiceErrorNotFound);
  EXPECT_EQ(error->localizedDescription(),
            "The helper's units are missing from " + f.units.string() + ".");
  EXPECT_TRUE(f.runner->commands().empty()) << "nothing may be asked of systemd or polkit";
}

TEST(SystemdServiceManager, AuthenticationOutcomesOfRegistering) {
  // Each case: what pkexec answered, and what registering and the status then report.
  const auto attempt = [](CommandResult pkexec) {
    Fixture f;
    f.runner->answer("pkexec", std::move(pkexec));
    f.runner->answer("systemctl", {4, "not-found\n"});
    auto service = f.service();
    EXPECT_EQ(service.status(), 0);
    const auto error = service.registerService();
    return std::pair{error.value_or(Error{}), service.status()};
  };
  // Dismissed: until systemd shows the units the status reads as "requires approval",
  // which is what the registration's caller acts on.
  auto [error, status] = attempt({126, ""});
  EXPECT_EQ(error.localizedDescription(), "The administrator authentication was dismissed.");
  EXPECT_EQ(status, 2);

  std::tie(error, status) =
      attempt({127, "Error executing command as another user: Not authorized\n"});
  EXPECT_EQ(error.code, kServiceErrorNotAuthorized);
  EXPECT_EQ(error.localizedDescription(),
            "Not authorized to manage the helper (Error executing command as another user: Not "
            "authorized).");
  EXPECT_EQ(status, 0);

  std::tie(error, status) =
      attempt({3, "zephro-helper-units: /x/com.zephro.helper.socket is missing\n"});
  EXPECT_EQ(error.localizedDescription(),
            "The helper's units could not be changed (exit status 3): zephro-helper-units: "
            "/x/com.zephro.helper.socket is missing");
  std::tie(error, status) = attempt({-1, "could not start pkexec: No such file or directory"});
  EXPECT_EQ(error.localizedDescription(), "could not start pkexec: No such file or directory");
}

}  // namespace
}  // namespace zephro
