#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace zephro::codesign {

inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kSecretKeySize = 64;
inline constexpr std::size_t kSignatureSize = 64;

using PublicKey = std::array<std::uint8_t, kPublicKeySize>;
using Signature = std::array<std::uint8_t, kSignatureSize>;

// An Ed25519 signing key. Its bytes are wiped when it goes away.
class SecretKey {
 public:
  explicit SecretKey(std::span<const std::uint8_t, kSecretKeySize> bytes);
  ~SecretKey();
  SecretKey(const SecretKey& other);
  SecretKey& operator=(const SecretKey& other);

  [[nodiscard]] PublicKey publicKey() const;
  [[nodiscard]] Signature sign(std::span<const std::uint8_t> message) const;
  [[nodiscard]] std::span<const std::uint8_t, kSecretKeySize> bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kSecretKeySize> bytes_{};
};

struct KeyPair {
  SecretKey secret;
  PublicKey publicKey;

  [[nodiscard]] static KeyPair generate();
};

[[nodiscard]] bool verifySignature(const PublicKey& key, std::span<const std::uint8_t> message,
                                   const Signature& signature);

// An anchor's statement that a team key belongs to a team: the stand-in for the
// leaf certificate whose subject OU names the team.
struct TeamCertificate {
  std::string teamID;
  PublicKey teamKey{};
  Signature anchorSignature{};

  [[nodiscard]] static TeamCertificate issue(const SecretKey& anchor, std::string teamID,
                                             const PublicKey& teamKey);
  [[nodiscard]] bool isIssuedBy(const PublicKey& anchor) const;
  // The bytes the anchor signs.
  [[nodiscard]] std::string signedMessage() const;
};

// Identifiers and team IDs are 1 to 255 printable ASCII characters without
// spaces, so they survive requirement texts, log lines and the trailer unchanged.
[[nodiscard]] bool isValidName(std::string_view name);

// Key and certificate files: one line of text each,
//   zephro-ed25519-public <64 hex digits>
//   zephro-ed25519-secret <128 hex digits>
//   zephro-team-certificate <team ID> <64 hex digits of key> <128 hex digits of signature>
// Readers throw std::runtime_error naming the file and what is wrong with it.
// Writers never overwrite an existing file; secret keys are created with mode 0600.
[[nodiscard]] PublicKey readPublicKeyFile(const std::filesystem::path& path);
[[nodiscard]] SecretKey readSecretKeyFile(const std::filesystem::path& path);
[[nodiscard]] TeamCertificate readCertificateFile(const std::filesystem::path& path);
void writePublicKeyFile(const std::filesystem::path& path, const PublicKey& key);
void writeSecretKeyFile(const std::filesystem::path& path, const SecretKey& key);
void writeCertificateFile(const std::filesystem::path& path, const TeamCertificate& certificate);

// libsodium must be initialised once before use; every function here does it.
void ensureSodium();

}  // namespace zephro::codesign
