#include "platform/codesign/SignatureTrailer.h"

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace zephro::codesign {
namespace {

constexpr std::string_view kMagic = "ZPHRSIG1";
constexpr std::string_view kFooterMagic = "ZPHRSEND";
constexpr std::string_view kCodeDomain{"zephro-code-v1\0", 15};
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

class Writer {
 public:
  void bytes(std::span<const std::uint8_t> data) {
    out_.insert(out_.end(), data.begin(), data.end());
  }
  void text(std::string_view data) {
    bytes({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
  }
  void littleEndian(std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
      out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  [[nodiscard]] std::vector<std::uint8_t> take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

// Reads fields front to back; every read checks the remaining length first.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  [[nodiscard]] bool bytes(std::span<std::uint8_t> out) {
    if (out.size() > data_.size() - offset_) return false;
    std::memcpy(out.data(), data_.data() + offset_, out.size());
    offset_ += out.size();
    return true;
  }
  [[nodiscard]] bool text(std::size_t size, std::string& out) {
    if (size > data_.size() - offset_) return false;
    out.assign(reinterpret_cast<const char*>(data_.data() + offset_), size);
    offset_ += size;
    return true;
  }
  [[nodiscard]] bool littleEndian(std::size_t size, std::uint64_t& out) {
    if (size > data_.size() - offset_) return false;
    out = 0;
    for (std::size_t i = 0; i < size; ++i) out |= std::uint64_t{data_[offset_ + i]} << (8 * i);
    offset_ += size;
    return true;
  }
  [[nodiscard]] bool atEnd() const { return offset_ == data_.size(); }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t offset_ = 0;
};

bool preadAll(int fd, std::uint8_t* out, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> SignatureTrailer::serialize() const {
  Writer w;
  w.text(kMagic);
  w.littleEndian(kVersion, 2);
  w.littleEndian(identifier.size(), 1);
  w.littleEndian(certificate.teamID.size(), 1);
  w.text(identifier);
  w.text(certificate.teamID);
  w.bytes(certificate.teamKey);
  w.bytes(certificate.anchorSignature);
  w.bytes(codeSignature);
  w.littleEndian(kFixedSize + identifier.size() + certificate.teamID.size(), 4);
  w.text(kFooterMagic);
  return w.take();
}

std::vector<std::uint8_t> SignatureTrailer::codeMessage(std::uint64_t contentLength,
                                                        const Digest& contentDigest) const {
  Writer w;
  w.text(kCodeDomain);
  w.littleEndian(identifier.size(), 1);
  w.text(identifier);
  w.littleEndian(certificate.teamID.size(), 1);
  w.text(certificate.teamID);
  w.bytes(certificate.teamKey);
  w.bytes(certificate.anchorSignature);
  w.littleEndian(contentLength, 8);
  w.bytes(contentDigest);
  return w.take();
}

OSStatus trailerLengthFromFooter(std::span<const std::uint8_t> footer, std::uint64_t fileSize,
                                 std::size_t& length) {
  if (footer.size() != SignatureTrailer::kFooterSize || fileSize < footer.size()) {
    return errSecCSUnsigned;
  }
  if (std::memcmp(footer.data() + 4, kFooterMagic.data(), kFooterMagic.size()) != 0) {
    return errSecCSUnsigned;
  }
  std::uint64_t declared = 0;
  Reader r(footer);
  if (!r.littleEndian(4, declared)) return errSecCSSignatureFailed;
  if (declared < SignatureTrailer::kFixedSize || declared > SignatureTrailer::kMaxSize ||
      declared > fileSize) {
    return errSecCSSignatureFailed;
  }
  length = static_cast<std::size_t>(declared);
  return errSecSuccess;
}

OSStatus parseTrailer(std::span<const std::uint8_t> bytes, SignatureTrailer& out) {
  Reader r(bytes);
  std::string magic;
  std::uint64_t version = 0;
  if (!r.text(kMagic.size(), magic) || magic != kMagic) return errSecCSSignatureFailed;
  if (!r.littleEndian(2, version)) return errSecCSSignatureFailed;
  if (version != SignatureTrailer::kVersion) return errSecCSSignatureUnsupported;

  std::uint64_t identifierLength = 0;
  std::uint64_t teamLength = 0;
  std::uint64_t declaredLength = 0;
  std::string footerMagic;
  SignatureTrailer trailer;
  const bool complete =
      r.littleEndian(1, identifierLength) && r.littleEndian(1, teamLength) &&
      r.text(identifierLength, trailer.identifier) &&
      r.text(teamLength, trailer.certificate.teamID) && r.bytes(trailer.certificate.teamKey) &&
      r.bytes(trailer.certificate.anchorSignature) && r.bytes(trailer.codeSignature) &&
      r.littleEndian(4, declaredLength) && r.text(kFooterMagic.size(), footerMagic) && r.atEnd();
  if (!complete || footerMagic != kFooterMagic || declaredLength != bytes.size() ||
      !isValidName(trailer.identifier) || !isValidName(trailer.certificate.teamID)) {
    return errSecCSSignatureFailed;
  }
  out = std::move(trailer);
  return errSecSuccess;
}

OSStatus readTrailer(int fd, SignatureTrailer& out, std::uint64_t& contentLength) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return errSecCSInternalError;
  if (!S_ISREG(info.st_mode)) return errSecCSStaticCodeNotFound;
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);
  if (fileSize < SignatureTrailer::kFooterSize) return errSecCSUnsigned;

  std::array<std::uint8_t, SignatureTrailer::kFooterSize> footer{};
  if (!preadAll(fd, footer.data(), footer.size(), fileSize - footer.size())) {
    return errSecCSInternalError;
  }
  std::size_t length = 0;
  if (const OSStatus status = trailerLengthFromFooter(footer, fileSize, length); status != 0) {
    return status;
  }
  std::vector<std::uint8_t> bytes(length);
  if (!preadAll(fd, bytes.data(), bytes.size(), fileSize - length)) return errSecCSInternalError;
  if (const OSStatus status = parseTrailer(bytes, out); status != 0) return status;
  contentLength = fileSize - length;
  return errSecSuccess;
}

OSStatus digestContent(int fd, std::uint64_t length, SignatureTrailer::Digest& digest,
                       std::chrono::steady_clock::time_point deadline) {
  ensureSodium();
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, digest.size());
  std::vector<std::uint8_t> chunk(kReadChunk);
  for (std::uint64_t offset = 0; offset < length;) {
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - offset));
    if (std::chrono::steady_clock::now() >= deadline) return errSecCSCancelled;
    if (!preadAll(fd, chunk.data(), size, offset)) return errSecCSInternalError;
    crypto_generichash_update(&state, chunk.data(), size);
    offset += size;
  }
  crypto_generichash_final(&state, digest.data(), digest.size());
  return errSecSuccess;
}

}  // namespace zephro::codesign
