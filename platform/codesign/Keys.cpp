#include "platform/codesign/Keys.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/posix/FileDescriptor.h"
#include "platform/log/Format.h"

namespace zephro::codesign {
namespace {

constexpr std::string_view kPublicTag = "zephro-ed25519-public";
constexpr std::string_view kSecretTag = "zephro-ed25519-secret";
constexpr std::string_view kCertificateTag = "zephro-team-certificate";
constexpr std::string_view kCertificateDomain{"zephro-team-certificate-v1\0", 27};
constexpr std::size_t kMaxKeyFileSize = 1024;

std::string toHex(std::span<const std::uint8_t> bytes) {
  std::string hex(bytes.size() * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  hex.pop_back();
  return hex;
}

template <std::size_t N>
bool fromHex(std::string_view hex, std::array<std::uint8_t, N>& out) {
  if (hex.size() != N * 2) return false;
  std::size_t length = 0;
  const char* end = nullptr;
  return sodium_hex2bin(out.data(), N, hex.data(), hex.size(), nullptr, &length, &end) == 0 &&
         length == N && end == hex.data() + hex.size();
}

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what) {
  throw std::runtime_error(path.string() + ": " + what);
}

std::vector<std::string> readFields(const std::filesystem::path& path, std::string_view tag,
                                    std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, std::string("cannot open: ") + format::errorText(errno));
  std::string text(kMaxKeyFileSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxKeyFileSize) fail(path, "file is too large");
  std::istringstream words(text);
  std::vector<std::string> fields;
  for (std::string word; words >> word;) fields.push_back(word);
  if (fields.size() != count + 1 || fields.front() != tag) {
    fail(path, "not a " + std::string(tag) + " file");
  }
  fields.erase(fields.begin());
  return fields;
}

void writeNewFile(const std::filesystem::path& path, const std::string& text, mode_t mode) {
  const FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) fail(path, std::string("cannot create: ") + format::errorText(errno));
  // A half-written key file must not survive: the next run would refuse to
  // overwrite it and reading it would fail.
  const auto failWrite = [&path] {
    const std::string reason = format::errorText(errno);
    ::unlink(path.c_str());
    fail(path, "cannot write: " + reason);
  };
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd.get(), text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failWrite();
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0) failWrite();
}

}  // namespace

void ensureSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw std::runtime_error("libsodium could not be initialised");
}

SecretKey::SecretKey(std::span<const std::uint8_t, kSecretKeySize> bytes) {
  std::memcpy(bytes_.data(), bytes.data(), kSecretKeySize);
}

SecretKey::~SecretKey() {
  sodium_memzero(bytes_.data(), bytes_.size());
}

SecretKey::SecretKey(const SecretKey& other) = default;
SecretKey& SecretKey::operator=(const SecretKey& other) = default;

PublicKey SecretKey::publicKey() const {
  PublicKey key{};
  crypto_sign_ed25519_sk_to_pk(key.data(), bytes_.data());
  return key;
}

Signature SecretKey::sign(std::span<const std::uint8_t> message) const {
  ensureSodium();
  Signature signature{};
  crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), bytes_.data());
  return signature;
}

KeyPair KeyPair::generate() {
  ensureSodium();
  PublicKey publicKey{};
  std::array<std::uint8_t, kSecretKeySize> secret{};
  crypto_sign_keypair(publicKey.data(), secret.data());
  KeyPair pair{SecretKey(secret), publicKey};
  sodium_memzero(secret.data(), secret.size());
  return pair;
}

bool verifySignature(const PublicKey& key, std::span<const std::uint8_t> message,
                     const Signature& signature) {
  ensureSodium();
  return crypto_sign_verify_detached(signature.data(), message.data(), message.size(),
                                     key.data()) == 0;
}

TeamCertificate TeamCertificate::issue(const SecretKey& anchor, std::string teamID,
                                       const PublicKey& teamKey) {
  if (!isValidName(teamID)) throw std::invalid_argument("invalid team ID: " + teamID);
  TeamCertificate certificate{std::move(teamID), teamKey, {}};
  const std::string message = certificate.signedMessage();
  certificate.anchorSignature =
      anchor.sign({reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
  return certificate;
}

std::string TeamCertificate::signedMessage() const {
  std::string message(kCertificateDomain);
  message.push_back(static_cast<char>(teamID.size()));
  message += teamID;
  message.append(reinterpret_cast<const char*>(teamKey.data()), teamKey.size());
  return message;
}

bool TeamCertificate::isIssuedBy(const PublicKey& anchor) const {
  if (!isValidName(teamID)) return false;
  const std::string message = signedMessage();
  return verifySignature(anchor,
                         {reinterpret_cast<const std::uint8_t*>(message.data()), message.size()},
                         anchorSignature);
}

bool isValidName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  for (const char c : name) {
    if (c <= 0x20 || c >= 0x7f || c == '"' || c == '\\') return false;
  }
  return true;
}

PublicKey readPublicKeyFile(const std::filesystem::path& path) {
  const auto fields = readFields(path, kPublicTag, 1);
  PublicKey key{};
  if (!fromHex(fields[0], key)) fail(path, "malformed public key");
  return key;
}

SecretKey readSecretKeyFile(const std::filesystem::path& path) {
  auto fields = readFields(path, kSecretTag, 1);
  std::array<std::uint8_t, kSecretKeySize> bytes{};
  const bool ok = fromHex(fields[0], bytes);
  sodium_memzero(fields[0].data(), fields[0].size());
  if (!ok) fail(path, "malformed secret key");
  SecretKey key(bytes);
  sodium_memzero(bytes.data(), bytes.size());
  return key;
}

TeamCertificate readCertificateFile(const std::filesystem::path& path) {
  const auto fields = readFields(path, kCertificateTag, 3);
  TeamCertificate certificate;
  certificate.teamID = fields[0];
  if (!isValidName(certificate.teamID)) fail(path, "malformed team ID");
  if (!fromHex(fields[1], certificate.teamKey)) fail(path, "malformed team key");
  if (!fromHex(fields[2], certificate.anchorSignature)) fail(path, "malformed signature");
  return certificate;
}

void writePublicKeyFile(const std::filesystem::path& path, const PublicKey& key) {
  writeNewFile(path, std::string(kPublicTag) + " " + toHex(key) + "\n", 0644);
}

void writeSecretKeyFile(const std::filesystem::path& path, const SecretKey& key) {
  std::string text = std::string(kSecretTag) + " " + toHex(key.bytes()) + "\n";
  writeNewFile(path, text, 0600);
  sodium_memzero(text.data(), text.size());
}

void writeCertificateFile(const std::filesystem::path& path, const TeamCertificate& certificate) {
  writeNewFile(path,
               std::string(kCertificateTag) + " " + certificate.teamID + " " +
                   toHex(certificate.teamKey) + " " + toHex(certificate.anchorSignature) + "\n",
               0644);
}

}  // namespace zephro::codesign
