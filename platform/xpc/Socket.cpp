#include "platform/xpc/Socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/log/Format.h"

namespace zephro::xpc {
namespace {

std::optional<sockaddr_un> addressFor(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

std::optional<PeerCredentials> peerCredentials(int socketFd) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
    return std::nullopt;
  }
  return PeerCredentials{credentials.pid, credentials.uid, credentials.gid};
}

FileDescriptor connectUnixSocket(const std::string& path, std::string& error) {
  const auto address = addressFor(path);
  if (!address) {
    error = "socket path is empty or too long";
    return {};
  }
  FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    error = format::errorText(errno);
    return {};
  }
  int result;
  do {
    result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address));
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    error = format::errorText(errno);
    return {};
  }
  return fd;
}

FileDescriptor listenUnixSocket(const std::string& path) {
  const auto address = addressFor(path);
  if (!address) throw std::system_error(ENAMETOOLONG, std::generic_category(), path);
  FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) throwErrno("socket");
  const auto* raw = reinterpret_cast<const sockaddr*>(&*address);
  if (::bind(fd.get(), raw, sizeof(*address)) != 0) {
    if (errno != EADDRINUSE) throwErrno("bind " + path);
    // Only a socket nobody answers on may be replaced.
    std::string ignored;
    if (connectUnixSocket(path, ignored).valid()) {
      throw std::system_error(EADDRINUSE, std::generic_category(), "another service owns " + path);
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
      throw std::system_error(EEXIST, std::generic_category(), path + " is not a socket");
    }
    ::unlink(path.c_str());
    if (::bind(fd.get(), raw, sizeof(*address)) != 0) throwErrno("bind " + path);
  }
  // Every local user's application may connect; the code check decides who is served.
  // Never through a symlink someone put in the socket's place since the bind.
  if (::fchmodat(AT_FDCWD, path.c_str(), 0666, AT_SYMLINK_NOFOLLOW) != 0) {
    throwErrno("chmod " + path);
  }
  if (::listen(fd.get(), SOMAXCONN) != 0) throwErrno("listen " + path);
  return fd;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!bytes.empty()) {
    const auto written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
  }
  return true;
}

}  // namespace zephro::xpc
