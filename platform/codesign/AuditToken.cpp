#include "platform/codesign/AuditToken.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace zephro::codesign {
namespace {

UniqueFd pidfdOpen(pid_t pid) {
  return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

// The pid a pidfd refers to, from /proc/self/fdinfo; 0 when the process has
// been reaped or lives in another PID namespace.
pid_t pidOfPidfd(int pidfd) {
  std::ifstream in("/proc/self/fdinfo/" + std::to_string(pidfd));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Pid:", 0) == 0) return static_cast<pid_t>(std::stol(line.substr(4)));
  }
  return 0;
}

// Pins pid through pidfd: the start time read while the pidfd's process was
// alive and named by pid.
void pin(AuditToken& token, UniqueFd pidfd) {
  std::uint64_t start = 0;
  if (!pidfd || !proc::startTime(token.pid, start) || !proc::isAlive(pidfd.get())) return;
  token.pidfd = std::move(pidfd);
  token.startTime = start;
}

}  // namespace

namespace proc {

bool startTime(pid_t pid, std::uint64_t& out) {
  if (pid <= 0) return false;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return false;
  // The command name (field 2) may hold spaces and parentheses; fields after it
  // start behind the last ')'.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> field)) return false;
  }
  try {
    std::size_t used = 0;
    out = std::stoull(field, &used);
    return used == field.size();
  } catch (const std::exception&) {
    return false;
  }
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

}  // namespace proc

AuditToken auditTokenOfPeer(int socketFd) {
  AuditToken token;
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof credentials) {
    return token;
  }
  token.pid = credentials.pid;
  token.uid = credentials.uid;
  token.gid = credentials.gid;
  if (token.pid <= 0) return token;

  int peerPidfd = -1;
  length = sizeof peerPidfd;
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERPIDFD, &peerPidfd, &length) == 0) {
    UniqueFd pidfd(peerPidfd);
    if (pidOfPidfd(pidfd.get()) == token.pid) pin(token, std::move(pidfd));
    return token;
  }
  if (errno != ENOPROTOOPT && errno != EINVAL) return token;

  // Older kernels: the process that PID names now is the peer only if it was
  // already running, under the same start time, before and after the pidfd.
  std::uint64_t before = 0;
  if (!proc::startTime(token.pid, before)) return token;
  pin(token, pidfdOpen(token.pid));
  if (token.pidfd && token.startTime != before) {
    token.pidfd.reset();
    token.startTime = 0;
  }
  return token;
}

AuditToken auditTokenOfProcess(pid_t pid) {
  AuditToken token;
  token.pid = pid;
  std::uint64_t before = 0;
  if (pid <= 0 || !proc::startTime(pid, before)) return token;
  pin(token, pidfdOpen(pid));
  if (token.pidfd && token.startTime != before) {
    token.pidfd.reset();
    token.startTime = 0;
  }
  return token;
}

}  // namespace zephro::codesign
