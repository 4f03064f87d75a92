#include "platform/smc/SysfsDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace zephro::smc {

SysfsDirectory::SysfsDirectory(std::filesystem::path path) : path_(std::move(path)) {
  fd_.reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd_) openError_ = errno;
}

bool SysfsDirectory::has(const std::string& name) const {
  struct stat status {};
  return fd_ && ::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool SysfsDirectory::isWritable(const std::string& name) const {
  struct stat status {};
  return fd_ && ::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(status.st_mode) && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// O_NONBLOCK keeps a FIFO planted in the directory from holding the caller up.
int SysfsDirectory::openAttribute(const std::string& name, int flags, FileDescriptor& file) const {
  if (!fd_) return EBADF;
  file.reset(::openat(fd_.get(), name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) return errno;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return errno;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  return S_ISREG(status.st_mode) ? 0 : EINVAL;
}

AttributeText SysfsDirectory::read(const std::string& name) const {
  FileDescriptor file;
  if (const int error = openAttribute(name, O_RDONLY, file); error != 0) return {error, {}};
  std::array<char, kMaxAttributeSize + 1> buffer{};
  std::size_t size = 0;
  while (size < buffer.size()) {
    const auto n = ::read(file.get(), buffer.data() + size, buffer.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {errno, {}};
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  if (size > kMaxAttributeSize) return {EFBIG, {}};
  return {0, std::string(buffer.data(), size)};
}

int SysfsDirectory::write(const std::string& name, std::string_view text) const {
  FileDescriptor file;
  if (const int error = openAttribute(name, O_WRONLY | O_TRUNC, file); error != 0) return error;
  for (;;) {
    const auto n = ::write(file.get(), text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    return static_cast<std::size_t>(n) == text.size() ? 0 : EIO;
  }
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\n\r";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

}  // namespace zephro::smc
