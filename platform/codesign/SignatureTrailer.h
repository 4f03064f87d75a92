#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/codesign/Keys.h"
#include "platform/codesign/Status.h"

namespace zephro::codesign {

// A signed executable is the file as built ("content") followed by a trailer.
// The ELF loader maps only the segments its headers name, so the file runs
// unchanged. All integers are little-endian.
//
//   offset      size  field
//   0           8     magic "ZPHRSIG1"
//   8           2     version, 1
//   10          1     identifier length I (1..255)
//   11          1     team ID length T (1..255)
//   12          I     identifier (printable ASCII, no space, quote or backslash)
//   12+I        T     team ID, the certificate's subject OU (same alphabet)
//   12+I+T      32    team's Ed25519 public key
//   44+I+T      64    anchor's signature over the team certificate:
//   TeamCertificate::signedMessage() 108+I+T     64    team's signature over the code message
//   (below) 172+I+T     4     trailer length L = 184+I+T, counted from the magic through the footer
//   magic 176+I+T     8     footer magic "ZPHRSEND"
//
// The last 12 bytes of the file are the fixed footer (length + footer magic), so
// a reader finds the trailer from the end without knowing the file's format.
//
// Code message, signed by the team key: "zephro-code-v1\0", u8 I, identifier,
// u8 T, team ID, team key, certificate signature, u64 content length, and the
// BLAKE2b-512 digest of the content. Everything in the trailer except the lengths
// and magics is covered by it, so a flipped byte anywhere fails verification.
struct SignatureTrailer {
  static constexpr std::uint16_t kVersion = 1;
  static constexpr std::size_t kFooterSize = 12;
  static constexpr std::size_t kFixedSize = 184;
  static constexpr std::size_t kMaxSize = kFixedSize + 255 + 255;
  static constexpr std::size_t kDigestSize = 64;
  using Digest = std::array<std::uint8_t, kDigestSize>;

  std::string identifier;
  TeamCertificate certificate;
  Signature codeSignature{};

  [[nodiscard]] std::vector<std::uint8_t> serialize() const;

  // The bytes the team signs for a content of that length and digest.
  [[nodiscard]] std::vector<std::uint8_t> codeMessage(std::uint64_t contentLength,
                                                      const Digest& contentDigest) const;
};

// From the last kFooterSize bytes of a file of fileSize bytes: the trailer's
// length. errSecCSUnsigned when there is no footer, errSecCSSignatureFailed when
// its length cannot be right.
[[nodiscard]] OSStatus trailerLengthFromFooter(std::span<const std::uint8_t> footer,
                                               std::uint64_t fileSize, std::size_t& length);

// The whole trailer, magic through footer. errSecCSSignatureUnsupported for
// another version, errSecCSSignatureFailed for anything malformed.
[[nodiscard]] OSStatus parseTrailer(std::span<const std::uint8_t> bytes, SignatureTrailer& out);

// Reads and parses the trailer at the end of an open file; contentLength is the
// length of everything before it.
[[nodiscard]] OSStatus readTrailer(int fd, SignatureTrailer& out, std::uint64_t& contentLength);

// BLAKE2b-512 of the file's first `length` bytes, read with pread (the offset of
// the descriptor is not used). errSecCSCancelled once `deadline` has passed.
[[nodiscard]] OSStatus digestContent(
    int fd, std::uint64_t length, SignatureTrailer::Digest& digest,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

}  // namespace zephro::codesign
