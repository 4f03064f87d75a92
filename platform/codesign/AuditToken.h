#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/posix/FileDescriptor.h"

namespace zephro::codesign {

// Who is at the other end of a connection, pinned so that a recycled PID can
// never be mistaken for it: the kernel's credentials of the peer, a pidfd that
// refers to exactly that process, and its start time (clock ticks after boot,
// field 22 of /proc/PID/stat).
struct AuditToken {
  pid_t pid = 0;
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
  FileDescriptor pidfd;  // invalid when the peer could not be pinned
  std::uint64_t startTime = 0;
};

// The peer of a connected Unix socket. The pid comes from SO_PEERCRED (0 when the
// socket has no peer credentials, e.g. the peer is in another PID namespace); the
// pidfd from SO_PEERPIDFD, or, on kernels without it, from pidfd_open with the
// start time read before and after so that it names the same process. Never
// throws: a peer that cannot be pinned gets no pidfd and resolves to no code.
[[nodiscard]] AuditToken auditTokenOfPeer(int socketFd);

// A process by pid (pidfd_open with the start-time re-check), for tools and tests.
[[nodiscard]] AuditToken auditTokenOfProcess(pid_t pid);

}  // namespace zephro::codesign
