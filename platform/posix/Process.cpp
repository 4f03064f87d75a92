#include "platform/posix/Process.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

namespace zephro::proc {

std::optional<ProcessStat> readStat(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  // The command name (field 2) may hold spaces and parentheses; the fields after
  // it start behind the last ')'.
  const auto close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  ProcessStat stat;
  std::string field;
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> field)) return std::nullopt;
    if (index == 3) stat.state = field.front();
  }
  try {
    std::size_t used = 0;
    stat.startTime = std::stoull(field, &used);
    if (used != field.size()) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return stat;
}

bool startTime(pid_t pid, std::uint64_t& out) {
  const auto stat = readStat(pid);
  if (!stat) return false;
  out = stat->startTime;
  return true;
}

std::uint64_t ticksSinceBoot() {
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  const auto ticksPerSecond = static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
  // As the kernel converts a process's start: whole ticks, rounded down.
  return static_cast<std::uint64_t>(now.tv_sec) * ticksPerSecond +
         static_cast<std::uint64_t>(now.tv_nsec) * ticksPerSecond / 1000000000U;
}

bool isAlive(int pidfd) {
  if (pidfd < 0) return false;
  pollfd entry{pidfd, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready == 0;
}

bool isSameProcess(pid_t pid, int pidfd, std::uint64_t expectedStart) {
  std::uint64_t start = 0;
  return isAlive(pidfd) && startTime(pid, start) && start == expectedStart && isAlive(pidfd);
}

}  // namespace zephro::proc
