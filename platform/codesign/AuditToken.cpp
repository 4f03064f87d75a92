#include "platform/codesign/AuditToken.h"

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "platform/posix/Process.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace zephro::codesign {
namespace {

FileDescriptor pidfdOpen(pid_t pid) {
  return FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
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
void pin(AuditToken& token, FileDescriptor pidfd) {
  std::uint64_t start = 0;
  if (!pidfd || !proc::startTime(token.pid, start) || !proc::isAlive(pidfd.get())) return;
  token.pidfd = std::move(pidfd);
  token.startTime = start;
}

}  // namespace

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
    FileDescriptor pidfd(peerPidfd);
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
