#include "platform/codesign/Signer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "platform/codesign/SignatureTrailer.h"
#include "platform/log/Format.h"
#include "platform/posix/FileDescriptor.h"

namespace zephro::codesign {
namespace {

[[noreturn]] void throwFor(const std::filesystem::path& path, const std::string& what) {
  throw std::runtime_error(path.string() + ": " + what);
}

[[noreturn]] void failErrno(const std::filesystem::path& path, const std::string& what) {
  throwFor(path, what + ": " + format::errorText(errno));
}

// The length of the file without the signature it carries, if any.
std::uint64_t unsignedLength(const std::filesystem::path& path, int fd, std::uint64_t fileSize) {
  SignatureTrailer existing;
  std::uint64_t contentLength = 0;
  const OSStatus status = readTrailer(fd, existing, contentLength);
  if (status == errSecSuccess) return contentLength;
  if (status == errSecCSUnsigned) return fileSize;
  throwFor(path, "carries a damaged or unknown signature; rebuild it before signing");
}

void writeAll(const std::filesystem::path& path, int fd, const std::uint8_t* data,
              std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failErrno(path, "cannot write");
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void copyContent(const std::filesystem::path& path, int from, int to, std::uint64_t length) {
  std::vector<std::uint8_t> chunk(std::size_t{64} * 1024);
  for (std::uint64_t offset = 0; offset < length;) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - offset));
    const ssize_t n = ::pread(from, chunk.data(), wanted, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failErrno(path, "cannot read");
    writeAll(path, to, chunk.data(), static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!committed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  void commit() { committed_ = true; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool committed_ = false;
};

}  // namespace

void signFile(const std::filesystem::path& path, const std::string& identifier,
              const SecretKey& teamKey, const TeamCertificate& certificate) {
  if (!isValidName(identifier)) throw std::invalid_argument("invalid identifier: " + identifier);
  if (teamKey.publicKey() != certificate.teamKey) {
    throw std::invalid_argument("the team key is not the one the certificate names");
  }
  const FileDescriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) failErrno(path, "cannot open");
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) failErrno(path, "cannot stat");
  if (!S_ISREG(info.st_mode)) throwFor(path, "not a regular file");

  const std::uint64_t contentLength =
      unsignedLength(path, in.get(), static_cast<std::uint64_t>(info.st_size));
  SignatureTrailer::Digest digest{};
  if (digestContent(in.get(), contentLength, digest) != errSecSuccess)
    throwFor(path, "cannot read");

  SignatureTrailer trailer{identifier, certificate, {}};
  trailer.codeSignature = teamKey.sign(trailer.codeMessage(contentLength, digest));
  const auto bytes = trailer.serialize();

  TemporaryFile temporary(path.string() + ".signing");
  const FileDescriptor out(::open(temporary.path().c_str(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 07777));
  if (!out) failErrno(temporary.path(), "cannot create");
  copyContent(path, in.get(), out.get(), contentLength);
  writeAll(temporary.path(), out.get(), bytes.data(), bytes.size());
  if (::fchmod(out.get(), info.st_mode & 07777) != 0) failErrno(temporary.path(), "cannot chmod");
  if (::fsync(out.get()) != 0) failErrno(temporary.path(), "cannot write");
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) failErrno(path, "cannot replace");
  temporary.commit();
}

}  // namespace zephro::codesign
