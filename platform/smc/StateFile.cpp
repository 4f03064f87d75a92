#include "platform/smc/StateFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace zephro::smc {
namespace {

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

StateFile::StateFile(std::filesystem::path path) : path_(std::move(path)) {
  const auto lockPath = path_.string() + ".lock";
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (lockFd_ < 0) throwErrno("cannot open " + lockPath);
}

StateFile::~StateFile() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

StateFile::Guard::Guard(int fd) : fd_(fd) {
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

StateFile::Guard::~Guard() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

std::uint64_t StateFile::storedGeneration() const {
  std::uint64_t generation = 0;
  if (::pread(lockFd_, &generation, sizeof generation, 0) != sizeof generation) return 0;
  return generation;
}

StateFile::Reading StateFile::readIfChanged() {
  const std::uint64_t generation = storedGeneration();
  if (seen_ == generation) return {};
  const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    seen_.reset();
    return {errno == ENOENT ? Change::missing : Change::unreadable, {}};
  }
  std::string content;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (n < 0) {
    seen_.reset();
    return {Change::unreadable, {}};
  }
  seen_ = generation;
  return {Change::changed, std::move(content)};
}

void StateFile::store(std::string_view content) {
  const auto temporary = path_.string() + ".tmp." + std::to_string(::getpid());
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) throwErrno("cannot create " + temporary);
  std::size_t written = 0;
  while (written < content.size()) {
    const auto n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int saved = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      errno = saved;
      throwErrno("cannot write " + temporary);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    ::unlink(temporary.c_str());
    throwErrno("cannot write " + temporary);
  }
  if (::rename(temporary.c_str(), path_.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    throwErrno("cannot replace " + path_.string());
  }
  const std::uint64_t generation = storedGeneration() + 1;
  if (::pwrite(lockFd_, &generation, sizeof generation, 0) != sizeof generation) {
    throwErrno("cannot count the change in " + path_.string() + ".lock");
  }
  seen_ = generation;
}

}  // namespace zephro::smc
