#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/Wakeup.h"

namespace zephro::xpc {

// The kernel's view of the process at the other end of a Unix socket.
struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

[[nodiscard]] std::optional<PeerCredentials> peerCredentials(int socketFd);

// A connected stream socket, or errno in the error text.
[[nodiscard]] FileDescriptor connectUnixSocket(const std::string& path, std::string& error);

// A listening socket bound at `path`, reachable by every local user. A stale socket
// file left by a dead process is replaced; a live one is not. Throws
// std::system_error.
[[nodiscard]] FileDescriptor listenUnixSocket(const std::string& path);

// Writes all of `bytes` to a socket, waiting at most `timeout` for room in total.
// False when the peer is gone or too slow.
[[nodiscard]] bool writeAll(int fd, std::span<const std::uint8_t> bytes,
                            std::chrono::milliseconds timeout);

}  // namespace zephro::xpc
