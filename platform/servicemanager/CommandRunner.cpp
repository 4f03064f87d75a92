#include "platform/servicemanager/CommandRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>
#include <optional>

#include "platform/log/Format.h"
#include "platform/posix/FileDescriptor.h"

namespace zephro {

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// execve needs a path; resolving it before fork keeps the child to async-signal-safe calls.
std::optional<std::string> resolveExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const auto colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    merged[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
  }
  for (const auto& [key, value] : overrides) merged[key] = value;
  std::vector<std::string> result;
  result.reserve(merged.size());
  for (const auto& [key, value] : merged) result.push_back(key + "=" + value);
  return result;
}

}  // namespace

CommandResult ProcessCommandRunner::run(const std::vector<std::string>& argv) {
  if (argv.empty()) return {-1, "no command"};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {-1, std::string("pipe: ") + format::errorText(errno)};
  FileDescriptor readEnd(fds[0]);
  FileDescriptor writeEnd(fds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);

  std::vector<std::string> args = argv;
  auto argPointers = pointersTo(args);
  pid_t pid = -1;
  const int spawnError =
      posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawnError != 0) {
    return {-1, "could not start " + argv[0] + ": " + format::errorText(spawnError)};
  }

  CommandResult result;
  char buffer[4096];
  while (true) {
    const ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = exitCodeOf(status);
  return result;
}

DetachedProcess ProcessCommandRunner::startDetached(const DetachedLaunch& launch) {
  if (launch.argv.empty()) return {-1, "no command"};
  const auto executable = resolveExecutable(launch.argv[0]);
  if (!executable) return {-1, launch.argv[0] + " was not found"};

  std::vector<std::string> args = launch.argv;
  auto argPointers = pointersTo(args);
  auto environment = environmentWith(launch.environment);
  auto envPointers = pointersTo(environment);

  const std::string output = launch.outputFile.empty() ? "/dev/null" : launch.outputFile.string();
  // Never written through a link someone put in the log's place.
  FileDescriptor outputFd(
      open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (outputFd.get() < 0) return {-1, output + ": " + format::errorText(errno)};
  FileDescriptor inputFd(open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (inputFd.get() < 0) return {-1, std::string("/dev/null: ") + format::errorText(errno)};

  // The intermediate child reports the grandchild's pid; the grandchild reports an
  // exec failure as its errno. A successful exec closes the pipe (close-on-exec).
  int pidPipe[2];
  if (pipe2(pidPipe, O_CLOEXEC) != 0) return {-1, std::string("pipe: ") + format::errorText(errno)};
  FileDescriptor pidRead(pidPipe[0]);
  FileDescriptor pidWrite(pidPipe[1]);
  int execPipe[2];
  if (pipe2(execPipe, O_CLOEXEC) != 0)
    return {-1, std::string("pipe: ") + format::errorText(errno)};
  FileDescriptor execRead(execPipe[0]);
  FileDescriptor execWrite(execPipe[1]);

  const pid_t child = fork();
  if (child < 0) return {-1, std::string("fork: ") + format::errorText(errno)};
  if (child == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      dup2(inputFd.get(), 0);
      dup2(outputFd.get(), 1);
      dup2(outputFd.get(), 2);
      execve(executable->c_str(), argPointers.data(), envPointers.data());
      const int error = errno;
      [[maybe_unused]] const auto ignored = write(execWrite.get(), &error, sizeof error);
      _exit(127);
    }
    [[maybe_unused]] const auto ignored = write(pidWrite.get(), &grandchild, sizeof grandchild);
    _exit(0);
  }
  pidWrite.reset();
  execWrite.reset();
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  pid_t grandchild = -1;
  if (read(pidRead.get(), &grandchild, sizeof grandchild) != sizeof grandchild || grandchild < 0) {
    return {-1, "could not start " + launch.argv[0]};
  }
  int execError = 0;
  ssize_t n = 0;
  while ((n = read(execRead.get(), &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  if (n == sizeof execError) {
    return {-1, "could not start " + launch.argv[0] + ": " + format::errorText(execError)};
  }
  return {grandchild, {}};
}

}  // namespace zephro
