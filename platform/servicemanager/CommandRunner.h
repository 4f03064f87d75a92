#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zephro {

struct CommandResult {
  // The exit status; 128 + the signal for a process killed by one; -1 when it could not start.
  int exitCode = -1;
  // Standard output and standard error together, or why the command could not start.
  std::string output;
};

// A process meant to outlive the application, in a session of its own.
struct DetachedLaunch {
  std::vector<std::string> argv;
  // Added to (or replacing in) the application's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // Receives the process's standard output and error; /dev/null when empty.
  std::filesystem::path outputFile;
};

struct DetachedProcess {
  pid_t pid = -1;  // -1 when it could not start
  std::string error;
};

// Runs the external programs the service manager relies on (systemctl, pkexec, the
// desktop's settings tools). Abstract so tests can script their answers.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;

  // Runs argv[0] (looked up in PATH) to its end and blocks until it has.
  [[nodiscard]] virtual CommandResult run(const std::vector<std::string>& argv) = 0;
  // Starts a process that is not this process's child and returns at once.
  [[nodiscard]] virtual DetachedProcess startDetached(const DetachedLaunch& launch) = 0;
};

// The real thing: fork and exec.
class ProcessCommandRunner final : public CommandRunner {
 public:
  [[nodiscard]] CommandResult run(const std::vector<std::string>& argv) override;
  [[nodiscard]] DetachedProcess startDetached(const DetachedLaunch& launch) override;
};

}  // namespace zephro
