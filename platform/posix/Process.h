#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace zephro::proc {

// What /proc/PID/stat says of a process.
struct ProcessStat {
  char state = '?';             // field 3: R, S, D, Z, X, …
  std::uint64_t startTime = 0;  // field 22: clock ticks after boot
};

// nullopt when the process is gone or its stat line does not parse.
[[nodiscard]] std::optional<ProcessStat> readStat(pid_t pid);

// The start time of readStat(), false when it cannot be read.
[[nodiscard]] bool startTime(pid_t pid, std::uint64_t& out);

// Now, in the unit of ProcessStat::startTime: clock ticks after boot.
[[nodiscard]] std::uint64_t ticksSinceBoot();

// False once the process of the pidfd has exited (or the pidfd is unusable).
[[nodiscard]] bool isAlive(int pidfd);

// The pidfd's process is alive and PID still names it: anything read from
// /proc/PID before this returned true described that process.
[[nodiscard]] bool isSameProcess(pid_t pid, int pidfd, std::uint64_t startTime);

}  // namespace zephro::proc
