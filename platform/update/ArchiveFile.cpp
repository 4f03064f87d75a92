#include "platform/update/ArchiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/log/Format.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/update/UpdateError.h"

namespace zephro::update {

namespace {

Error unreadable(const std::filesystem::path& path, int error) {
  return updateError(UpdateErrorCode::signature,
                     "The update archive " + path.string() +
                         " could not be read: " + format::errorText(error) + ".");
}

}  // namespace

std::variant<std::vector<std::uint8_t>, Error> readArchive(const std::filesystem::path& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return unreadable(path, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return unreadable(path, errno);
  if (!S_ISREG(info.st_mode)) return unreadable(path, EINVAL);
  if (static_cast<std::uint64_t>(info.st_size) > kMaxArchiveSize) {
    return updateError(UpdateErrorCode::signature,
                       "The update archive is larger than 512 MiB; it was not checked.");
  }
  // One byte more than the size, to notice a file that grows while it is read.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return unreadable(path, errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done != static_cast<std::size_t>(info.st_size)) {
    return updateError(UpdateErrorCode::signature,
                       "The update archive " + path.string() + " changed while it was read.");
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace zephro::update
