#include "platform/servicemanager/DevelopmentServiceManager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/servicemanager/ServiceErrors.h"

namespace zephro {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Serialises registrations across threads and processes (flock on a file of its own).
class RegistrationLock {
 public:
  explicit RegistrationLock(const std::filesystem::path& runtimeDir)
      : fd_(open((runtimeDir / "helper-registration.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                 0600)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~RegistrationLock() {
    if (fd_ >= 0) close(fd_);
  }
  RegistrationLock(const RegistrationLock&) = delete;
  RegistrationLock& operator=(const RegistrationLock&) = delete;

 private:
  int fd_;
};

std::optional<pid_t> recordedPid(const std::filesystem::path& registrationFile) {
  std::ifstream in(registrationFile);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("pid=", 0) == 0) {
      try {
        const long pid = std::stol(line.substr(4));
        if (pid > 0) return static_cast<pid_t>(pid);
      } catch (const std::exception&) {
        return std::nullopt;
      }
    }
  }
  return std::nullopt;
}

bool writeRegistration(const std::filesystem::path& file, pid_t pid) {
  auto temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "pid=" << pid << "\n";
    out.flush();
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  return !error;
}

// Alive and not a zombie waiting for a parent that does not reap (as in some containers).
bool isRunning(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  std::getline(stat, content);
  const auto close = content.rfind(')');
  if (close == std::string::npos || close + 2 >= content.size()) return false;
  const char state = content[close + 2];
  return state != 'Z' && state != 'X';
}

// The recorded pid may have been reused by an unrelated process since; only a process
// running a file of the helper's name is ours to stop. A rebuilt helper shows as
// "… (deleted)", which still counts.
bool isHelperProcess(pid_t pid, const std::filesystem::path& helperExecutable) {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
  if (error) return false;
  constexpr std::string_view deleted = " (deleted)";
  if (exe.ends_with(deleted)) exe.resize(exe.size() - deleted.size());
  return std::filesystem::path(exe).filename() == helperExecutable.filename();
}

bool waitUntilGone(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (isRunning(pid)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

// A listening socket shows in /proc/net/unix with the "accepting connections" flag.
// Reading it instead of connecting keeps the helper from logging a refused client for
// every probe.
bool isListening(const std::filesystem::path& socketPath) {
  std::ifstream table("/proc/net/unix");
  if (!table) return false;
  constexpr unsigned long kAcceptingConnections = 0x10000;
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, refCount, protocol, flags, type, state, inode, path;
    if (!(fields >> slot >> refCount >> protocol >> flags >> type >> state >> inode >> path)) {
      continue;
    }
    if (path != socketPath.string()) continue;
    if (std::stoul(flags, nullptr, 16) & kAcceptingConnections) return true;
  }
  return false;
}

std::string lastLineOf(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::filesystem::path developmentRuntimeDir() {
  std::filesystem::path dir;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
    dir = std::filesystem::path(xdg) / "zephro";
  } else {
    dir = std::filesystem::temp_directory_path() / ("zephro-" + std::to_string(getuid()));
  }
  mkdir(dir.c_str(), 0700);
  return dir;
}

DevelopmentDaemonService::DevelopmentDaemonService(DevelopmentLayout layout,
                                                   std::shared_ptr<CommandRunner> runner)
    : layout_(std::move(layout)), runner_(std::move(runner)) {}

int DevelopmentDaemonService::status() const {
  std::error_code error;
  if (!isExecutableFile(layout_.helperExecutable) ||
      !std::filesystem::is_regular_file(layout_.machineProfile, error)) {
    return static_cast<int>(ServiceStatus::notFound);
  }
  if (!std::filesystem::exists(layout_.registrationFile(), error)) {
    return static_cast<int>(ServiceStatus::notRegistered);
  }
  return static_cast<int>(ServiceStatus::enabled);
}

std::optional<Error> DevelopmentDaemonService::registerService() {
  if (!isExecutableFile(layout_.helperExecutable)) {
    return serviceError(
        kServiceErrorNotFound,
        "The helper executable " + layout_.helperExecutable.string() + " is missing.");
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(layout_.machineProfile, error)) {
    return serviceError(kServiceErrorNotFound,
                        "The machine profile " + layout_.machineProfile.string() + " is missing.");
  }
  std::filesystem::create_directories(layout_.runtimeDir, error);
  const RegistrationLock lock(layout_.runtimeDir);
  // Registering again means a fresh helper from the current binary.
  stopRecordedHelper();
  return startHelper();
}

std::optional<Error> DevelopmentDaemonService::unregisterService() {
  std::error_code error;
  std::filesystem::create_directories(layout_.runtimeDir, error);
  const RegistrationLock lock(layout_.runtimeDir);
  if (!std::filesystem::exists(layout_.registrationFile(), error)) {
    return serviceError(kServiceErrorNotRegistered, "The helper is not registered.");
  }
  stopRecordedHelper();
  std::filesystem::remove(layout_.registrationFile(), error);
  if (error) {
    return serviceError(kServiceErrorIO,
                        layout_.registrationFile().string() + ": " + error.message());
  }
  return std::nullopt;
}

void DevelopmentDaemonService::stopRecordedHelper() {
  const auto pid = recordedPid(layout_.registrationFile());
  if (!pid || !isRunning(*pid) || !isHelperProcess(*pid, layout_.helperExecutable)) return;
  kill(*pid, SIGTERM);
  if (!waitUntilGone(*pid, layout_.stopTimeout)) {
    kill(*pid, SIGKILL);
    (void)waitUntilGone(*pid, layout_.stopTimeout);
  }
}

std::optional<Error> DevelopmentDaemonService::startHelper() {
  std::error_code error;
  if (isListening(layout_.socketPath)) {
    return serviceError(kServiceErrorLaunchFailed,
                        "Another helper already listens on " + layout_.socketPath.string() + ".");
  }
  // What is left there belongs to a helper that is gone.
  std::filesystem::remove(layout_.socketPath, error);

  DetachedLaunch launch;
  launch.argv = {layout_.helperExecutable.string(), "--smc",
                 "emulated:" + layout_.machineProfile.string() +
                     ",state=" + layout_.machineStateFile().string()};
  if (!layout_.anchorKey.empty()) {
    launch.argv.emplace_back("--anchor-key");
    launch.argv.push_back(layout_.anchorKey.string());
  }
  launch.environment = {{"ZEPHRO_HELPER_SOCKET", layout_.socketPath.string()}};
  launch.outputFile = layout_.helperLogFile();
  const auto started = runner_->startDetached(launch);
  if (started.pid < 0) {
    return serviceError(kServiceErrorLaunchFailed, "The helper could not start: " + started.error);
  }

  const auto deadline = Clock::now() + layout_.startTimeout;
  while (!isListening(layout_.socketPath)) {
    if (!isRunning(started.pid)) {
      return serviceError(kServiceErrorLaunchFailed,
                          "The helper stopped at start: " + lastLineOf(layout_.helperLogFile()));
    }
    if (Clock::now() >= deadline) {
      kill(started.pid, SIGKILL);
      return serviceError(kServiceErrorLaunchFailed, "The helper did not listen on " +
                                                         layout_.socketPath.string() + " in time.");
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  if (!writeRegistration(layout_.registrationFile(), started.pid)) {
    kill(started.pid, SIGTERM);
    return serviceError(kServiceErrorIO, "Could not record the registration in " +
                                             layout_.registrationFile().string() + ".");
  }
  return std::nullopt;
}

DevelopmentServiceManager::DevelopmentServiceManager(DevelopmentLayout layout,
                                                     std::shared_ptr<CommandRunner> runner,
                                                     std::unique_ptr<AutostartLoginItem> loginItem,
                                                     StartupSettingsOpener settingsOpener)
    : layout_(std::move(layout)),
      runner_(std::move(runner)),
      loginItem_(std::move(loginItem)),
      settingsOpener_(std::move(settingsOpener)) {}

std::unique_ptr<Service> DevelopmentServiceManager::daemonService(const std::string& plistName) {
  auto layout = layout_;
  // The helper is the one daemon this backend knows; any other name reads as not found.
  if (plistName != kHelperPlistName) layout.helperExecutable.clear();
  return std::make_unique<DevelopmentDaemonService>(std::move(layout), runner_);
}

Service& DevelopmentServiceManager::mainAppService() {
  return *loginItem_;
}

void DevelopmentServiceManager::openSystemSettingsLoginItems() {
  settingsOpener_.open();
}

}  // namespace zephro
