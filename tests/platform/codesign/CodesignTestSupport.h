#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/codesign/Code.h"
#include "platform/codesign/Keys.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/TrustAnchor.h"

namespace zephro::codesign::testing {

// The requirement the helper builds for its clients.
inline constexpr const char* kClientRequirement =
    R"(anchor apple generic and identifier "com.zephro.app" and certificate leaf[subject.OU] = "Q7K2M9T4XW")";

[[nodiscard]] std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

[[nodiscard]] Requirement requirement(const std::string& text);

// checkValidity of the file at path, or the status that stopped it earlier.
[[nodiscard]] OSStatus checkFile(const std::filesystem::path& path, const std::string& requirement,
                                 const TrustAnchor& anchor);

// A signing identity made fresh for a test: an anchor and a team it certified.
struct TestIdentity {
  KeyPair anchor = KeyPair::generate();
  KeyPair team = KeyPair::generate();
  TeamCertificate certificate;

  explicit TestIdentity(const std::string& teamID = "Q7K2M9T4XW")
      : certificate(TeamCertificate::issue(anchor.secret, teamID, team.publicKey)) {}
  [[nodiscard]] TrustAnchor trustAnchor() const { return TrustAnchor(anchor.publicKey); }
};

// Output and exit status of a program run to its end.
struct RunResult {
  int exitStatus = -1;
  std::string output;
};
[[nodiscard]] RunResult run(const std::vector<std::string>& argv);

}  // namespace zephro::codesign::testing
