#include "platform/servicemanager/DevelopmentServiceManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/servicemanager/ServiceErrors.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;

std::string read(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

pid_t recordedPid(const DevelopmentLayout& layout) {
  const auto text = read(layout.registrationFile());
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
  EXPECT_TRUE(std::filesystem::exists(h.layout.socketPath));
  // The socket is bound a moment before the helper writes that it listens.
  const auto listening = [&] {
    return read(h.layout.helperLogFile()).find("[ZephroHelper] XPC listener is running.") !=
           std::string::npos;
  };
  for (int wait = 0; wait < 100 && !listening(); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(listening());

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
  EXPECT_FALSE(std::filesystem::exists(h.layout.socketPath)) << "the helper removes its socket";
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
  const auto privateDir = [](const std::filesystem::path& dir) {
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
         std::filesystem::create_symlink(h.dir / "elsewhere", h.layout.runtimeDir);
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
    EXPECT_FALSE(std::filesystem::exists(h.layout.socketPath)) << c.why << ": nothing started";
  }
}

}  // namespace
}  // namespace zephro
