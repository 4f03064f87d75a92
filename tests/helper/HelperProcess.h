#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/platform/smc/FakeSysfs.h"

namespace zephro::testing {

using Lines = std::vector<std::string>;

inline Lines linesOf(const std::string& text) {
  Lines lines;
  std::stringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// Runs argv with stdout to a file and stderr appended to another; -1 when it cannot.
inline pid_t spawnProcess(const std::vector<std::string>& argv, const std::filesystem::path& out,
                          const std::filesystem::path& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The real com.zephro.helper with the --smc option a test gives, on a socket of the test's
// own (passed as the program's $ZEPHRO_HELPER_SOCKET), with its log in a file, and the
// signed test client to talk to it. Given a user, both run as that user (through setpriv),
// so that a helper run by root meets file modes as a daemon that is not root would.
class HelperProcess {
 public:
  static constexpr auto kWait = std::chrono::seconds(120);
  static constexpr const char* kRunning = "[ZephroHelper] XPC listener is running.";

  HelperProcess(const std::filesystem::path& dir, std::string smc,
                std::optional<std::pair<uid_t, gid_t>> user = std::nullopt)
      : dir_(dir), log_(dir / "helper.log"), smc_(std::move(smc)) {
    if (user) {
      const auto id = [](auto value) { return std::to_string(value); };
      asUser_ = {"/usr/bin/setpriv", "--reuid=" + id(user->first), "--regid=" + id(user->second),
                 "--clear-groups"};
    }
  }
  ~HelperProcess() {
    if (pid_ > 0) stop(pid_, SIGTERM);
  }
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  // True once the listener runs; false when the helper exited first or never got there.
  [[nodiscard]] bool start() {
    ::setenv("ZEPHRO_HELPER_SOCKET", (dir_ / "helper.sock").c_str(), 1);
    pid_ = spawnProcess(
        withUser({HELPER_BINARY, "--smc", smc_, "--anchor-key", ZEPHRO_DEV_ANCHOR_KEY}),
        "/dev/null", log_);
    int status = 0;
    while (
        waitForLog("[ZephroHelper] XPC listener is running.", 1, std::chrono::seconds(1)).empty()) {
      if (pid_ < 0 || ::waitpid(pid_, &status, WNOHANG) == pid_) return false;
    }
    return true;
  }

  [[nodiscard]] Lines logStartingWith(const std::string& prefix) const {
    Lines lines;
    for (auto& line : linesOf(contentOf(log_))) {
      if (line.starts_with(prefix)) lines.push_back(line);
    }
    return lines;
  }
  // Waits until the log holds `count` lines that start with `prefix`.
  [[nodiscard]] Lines waitForLog(const std::string& prefix, std::size_t count = 1,
                                 std::chrono::seconds wait = kWait) const {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (logStartingWith(prefix).size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return logStartingWith(prefix);
  }

  // Runs the signed client's commands over one connection; its output lines.
  [[nodiscard]] Lines client(const Lines& commands) const {
    const pid_t pid = startClient(commands, "client");
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    return linesOf(contentOf(dir_ / "client.out"));
  }

  // A client that ends its commands with "hold", so that it keeps the fans it forces until
  // stopped; answers once it holds, with its lines in `lines`.
  [[nodiscard]] pid_t holdingClient(Lines commands, Lines& lines) const {
    commands.emplace_back("hold");
    const pid_t pid = startClient(commands, "holder");
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (contentOf(dir_ / "holder.out").find("holding") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    lines = linesOf(contentOf(dir_ / "holder.out"));
    return pid;
  }

  static void stop(pid_t pid, int signal = SIGKILL) {
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }

 private:
  [[nodiscard]] Lines withUser(Lines argv) const {
    argv.insert(argv.begin(), asUser_.begin(), asUser_.end());
    return argv;
  }

  [[nodiscard]] pid_t startClient(const Lines& commands, const std::string& name) const {
    Lines argv{SIGNED_CLIENT, (dir_ / "helper.sock").string()};
    argv.insert(argv.end(), commands.begin(), commands.end());
    return spawnProcess(withUser(argv), dir_ / (name + ".out"), dir_ / (name + ".err"));
  }

  Lines asUser_;
  std::filesystem::path dir_;
  std::filesystem::path log_;
  std::string smc_;
  pid_t pid_ = -1;
};

}  // namespace zephro::testing
