#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/codesign/Keys.h"

namespace zephro::update {

// An archive's signature as a feed carries it.
struct SignedArchive {
  std::string edSignature;  // base64 of the detached Ed25519 signature over the whole file
  std::uint64_t length = 0;

  // The enclosure attributes to paste into the feed: sparkle:edSignature="…" length="…"
  [[nodiscard]] std::string enclosureAttributes() const;
};

// Signs the whole archive the way verifyArchive checks it. Throws std::runtime_error with
// the reason when the file cannot be read or is over 512 MiB (release tooling only).
[[nodiscard]] SignedArchive signArchive(const std::filesystem::path& archive,
                                        const codesign::SecretKey& key);

}  // namespace zephro::update
