#include "platform/servicemanager/DevelopmentServiceManager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/log/Format.h"
#include "platform/posix/Process.h"
#include "platform/servicemanager/ServiceErrors.h"

namespace zephro {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Every file of the runtime directory is opened without following a link in its place.
constexpr int kNoFollow = O_NOFOLLOW | O_CLOEXEC;
// More than a registration record or a log line ever needs.
constexpr std::size_t kTailLimit = 4096;

// Serialises registrations across threads and processes (flock on a file of its own).
class RegistrationLock {
 public:
  explicit RegistrationLock(const std::filesystem::path& runtimeDir)
      : path_(runtimeDir / "helper-registration.lock"),
        fd_(open(path_.c_str(), O_RDWR | O_CREAT | kNoFollow, 0600)) {
    if (fd_ < 0) {
      errno_ = errno;
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        errno_ = errno;
        break;
      }
    }
  }
  ~RegistrationLock() {
    if (fd_ >= 0) close(fd_);
  }
  RegistrationLock(const RegistrationLock&) = delete;
  RegistrationLock& operator=(const RegistrationLock&) = delete;

  // Why the lock is not held, when it is not.
  [[nodiscard]] std::optional<Error> error() const {
    if (errno_ == 0) return std::nullopt;
    return serviceError(kServiceErrorIO, path_.string() + ": " + format::errorText(errno_));
  }

 private:
  std::filesystem::path path_;
  int fd_;
  int errno_ = 0;
};

// The last kTailLimit bytes of a file, or nothing when it cannot be read.
std::string readTail(const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_RDONLY | kNoFollow);
  if (fd < 0) return {};
  std::string content;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const auto size = static_cast<std::size_t>(info.st_size);
    auto offset = static_cast<off_t>(size > kTailLimit ? size - kTailLimit : 0);
    char buffer[kTailLimit];
    while (content.size() < kTailLimit) {
      const ssize_t n = pread(fd, buffer, kTailLimit - content.size(), offset);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      content.append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
  }
  close(fd);
  return content;
}

// Anyone may create a name under the temp dir before this user does, and whoever owns
// the directory controls its files and the helper's socket: only a directory that is
// this user's alone will do.
std::optional<Error> checkPrivateDirectory(const std::filesystem::path& dir) {
  const auto refused = [&dir](const std::string& why) {
    return serviceError(kServiceErrorIO, "The runtime directory " + dir.string() + " " + why +
                                             "; refusing to use it.");
  };
  struct stat info {};
  if (lstat(dir.c_str(), &info) != 0) {
    return serviceError(kServiceErrorIO, "The runtime directory " + dir.string() +
                                             " cannot be used: " + format::errorText(errno) + ".");
  }
  if (S_ISLNK(info.st_mode)) return refused("is a symbolic link");
  if (!S_ISDIR(info.st_mode)) return refused("is not a directory");
  if (info.st_uid != geteuid()) {
    return refused("belongs to user " + std::to_string(info.st_uid) + ", not to this user");
  }
  if (const auto mode = info.st_mode & 07777; mode != 0700) {
    std::ostringstream octal;
    octal << std::oct << std::setw(4) << std::setfill('0') << mode;
    return refused("has mode " + octal.str() + ", not 0700");
  }
  return std::nullopt;
}

std::optional<Error> makePrivateDirectory(const std::filesystem::path& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return serviceError(kServiceErrorIO, "The runtime directory " + dir.string() +
                                             " cannot be made: " + format::errorText(errno) + ".");
  }
  return checkPrivateDirectory(dir);
}

bool isPresent(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(file, error));
}

std::optional<pid_t> recordedPid(const std::filesystem::path& registrationFile) {
  std::istringstream in(readTail(registrationFile));
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
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kNoFollow, 0600);
  if (fd < 0) return false;
  const auto record = "pid=" + std::to_string(pid) + "\n";
  const bool written =
      write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  if (close(fd) != 0 || !written) return false;
  return rename(temporary.c_str(), file.c_str()) == 0;
}

// Alive and not a zombie waiting for a parent that does not reap (as in some containers).
bool isRunning(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  const auto stat = proc::readStat(pid);
  return stat && stat->state != 'Z' && stat->state != 'X';
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
  std::istringstream in(readTail(file));
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
  // A directory that is not ours holds no registration of ours; registering says why.
  if (checkPrivateDirectory(layout_.runtimeDir) || !isPresent(layout_.registrationFile())) {
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
  if (auto refusal = makePrivateDirectory(layout_.runtimeDir)) return refusal;
  const RegistrationLock lock(layout_.runtimeDir);
  if (auto failure = lock.error()) return failure;
  // Registering again means a fresh helper from the current binary.
  stopRecordedHelper();
  return startHelper();
}

std::optional<Error> DevelopmentDaemonService::unregisterService() {
  if (auto refusal = makePrivateDirectory(layout_.runtimeDir)) return refusal;
  const RegistrationLock lock(layout_.runtimeDir);
  if (auto failure = lock.error()) return failure;
  if (!isPresent(layout_.registrationFile())) {
    return serviceError(kServiceErrorNotRegistered, "The helper is not registered.");
  }
  stopRecordedHelper();
  std::error_code error;
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
