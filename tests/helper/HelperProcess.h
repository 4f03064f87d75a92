#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/platform/smc/FakeSysfs.h"

namespace zephro::testing {

using Lines = std::vector<std::string>;

// Generous: the helper and its clients run under the sanitizers on a slow, shared machine.
inline bool waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline Lines linesOf(const std::string& text) {
  Lines lines;
  std::stringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

inline bool holds(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Runs argv, stdout to `out`, stderr appended to `err`, `environment` added; -1 when it cannot.
inline pid_t spawnProcess(const Lines& argv, const std::filesystem::path& out,
                          const std::filesystem::path& err, Lines environment = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  const auto pointers = [](const Lines& strings) {
    std::vector<char*> list;
    for (const auto& text : strings) list.push_back(const_cast<char*>(text.c_str()));
    list.push_back(nullptr);
    return list;
  };
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  auto args = pointers(argv);
  auto envp = pointers(environment);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Signals a process (none: waits for it) and reaps it; its exit status, or -1.
inline int endProcess(pid_t pid, int signal = SIGKILL) {
  if (signal != 0) ::kill(pid, signal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline Lines asUser(uid_t uid, gid_t gid, Lines argv) {
  Lines prefixed{"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                 "--regid=" + std::to_string(gid), "--clear-groups"};
  prefixed.insert(prefixed.end(), argv.begin(), argv.end());
  return prefixed;
}

// A copy another user can reach even when the build tree is in a folder only its owner enters.
inline std::string copyForOthers(const std::filesystem::path& file,
                                 const std::filesystem::path& folder) {
  using std::filesystem::perms;
  constexpr auto kReachable = perms::owner_all | perms::group_read | perms::group_exec |
                              perms::others_read | perms::others_exec;
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(folder, kReachable);
  const auto copy = folder / file.filename();
  std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, kReachable);
  return copy.string();
}

struct ProgramRun {
  pid_t pid = -1;
  int exitStatus = -1;
  Lines lines;
};

// The real helper on the test's socket. Given a user, helper and client run as that user, so that
// they meet file modes as a daemon that is not root would; without a system bus it fails closed.
class HelperProcess {
 public:
  HelperProcess(const std::filesystem::path& dir, std::string smc,
                std::optional<std::pair<uid_t, gid_t>> user = std::nullopt)
      : dir_(dir),
        smc_(std::move(smc)),
        user_(user),
        systemBus_("unix:path=" + (dir / "no-system-bus").string()),
        helper_(user ? copyForOthers(HELPER_BINARY, dir / "bin") : HELPER_BINARY),
        anchor_(user ? copyForOthers(ZEPHRO_DEV_ANCHOR_KEY, dir / "bin") : ZEPHRO_DEV_ANCHOR_KEY),
        client_(user ? copyForOthers(SIGNED_CLIENT, dir / "bin") : SIGNED_CLIENT) {}
  ~HelperProcess() { stop(); }
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  void useSystemBus(std::string address) { systemBus_ = std::move(address); }

  // True once the listener runs; false when the helper exited first or never got there.
  [[nodiscard]] bool start() {
    const std::string running = "[ZephroHelper] XPC listener is running.";
    const auto before = logStartingWith(running).size();
    pid_ = spawnProcess(
        asHelpersUser({helper_, "--smc", smc_, "--anchor-key", anchor_}), "/dev/null", logFile(),
        {"ZEPHRO_HELPER_SOCKET=" + socket(), "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus_});
    bool exited = pid_ < 0;
    waitUntil([&] {
      exited = exited || ::waitpid(pid_, nullptr, WNOHANG) == pid_;
      return exited || logStartingWith(running).size() > before;
    });
    if (exited) pid_ = -1;
    return !exited;
  }
  void stop(int signal = SIGTERM) {
    if (pid_ > 0) endProcess(pid_, signal);
    pid_ = -1;
  }

  [[nodiscard]] pid_t pid() const { return pid_; }
  [[nodiscard]] std::string socket() const { return (dir_ / "helper.sock").string(); }
  [[nodiscard]] std::filesystem::path logFile() const { return dir_ / "helper.log"; }
  [[nodiscard]] Lines log() const { return linesOf(contentOf(logFile())); }
  [[nodiscard]] Lines logStartingWith(const std::string& prefix) const {
    Lines lines;
    for (auto& line : log()) {
      if (line.starts_with(prefix)) lines.push_back(line);
    }
    return lines;
  }
  [[nodiscard]] Lines waitForLog(const std::string& prefix) const {
    waitUntil([&] { return !logStartingWith(prefix).empty(); });
    return logStartingWith(prefix);
  }

  // Runs a program to its end, as it is given (no user switch).
  [[nodiscard]] ProgramRun run(const Lines& argv, const std::string& name = "client") const {
    ProgramRun run{spawnProcess(argv, dir_ / (name + ".out"), dir_ / (name + ".err")), -1, {}};
    if (run.pid > 0) run.exitStatus = endProcess(run.pid, 0);
    run.lines = linesOf(contentOf(dir_ / (name + ".out")));
    return run;
  }
  [[nodiscard]] Lines client(const Lines& commands) const {
    return run(clientArgv(commands)).lines;
  }
  // A signed client that keeps the fans it forces until killed; answers once it holds.
  [[nodiscard]] pid_t holdingClient(Lines commands, Lines& lines,
                                    const std::string& name = "holder") const {
    commands.emplace_back("hold");
    const auto out = dir_ / (name + ".out");
    const pid_t pid = spawnProcess(clientArgv(commands), out, dir_ / (name + ".err"));
    waitUntil([&] { return contentOf(out).find("holding") != std::string::npos; });
    lines = linesOf(contentOf(out));
    return pid;
  }

 private:
  [[nodiscard]] Lines asHelpersUser(Lines argv) const {
    return user_ ? asUser(user_->first, user_->second, std::move(argv)) : argv;
  }
  [[nodiscard]] Lines clientArgv(const Lines& commands) const {
    Lines argv{client_, socket()};
    argv.insert(argv.end(), commands.begin(), commands.end());
    return asHelpersUser(argv);
  }

  std::filesystem::path dir_;
  std::string smc_;
  std::optional<std::pair<uid_t, gid_t>> user_;
  std::string systemBus_, helper_, anchor_, client_;
  pid_t pid_ = -1;
};

}  // namespace zephro::testing
