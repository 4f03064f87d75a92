#pragma once

#include <filesystem>

#include "platform/codesign/Keys.h"

namespace zephro::codesign {

// The public key that `anchor apple generic` chains to: team certificates it
// issued are trusted.
class TrustAnchor {
 public:
  explicit TrustAnchor(const PublicKey& key) : key_(key) {}

  // Loads an anchor key file. Throws std::runtime_error naming the file when it
  // cannot be read, is malformed, or could have been replaced by someone other
  // than root or the current user (another owner, or writable by group or others):
  // a root daemon must not trust a key a user could swap.
  [[nodiscard]] static TrustAnchor fromFile(const std::filesystem::path& path);

  [[nodiscard]] const PublicKey& key() const { return key_; }

 private:
  PublicKey key_;
};

// Where the installed helper finds its anchor key, fixed at build time
// (<datadir>/zephro/anchor.pub under the install prefix).
[[nodiscard]] std::filesystem::path defaultAnchorKeyPath();

}  // namespace zephro::codesign
