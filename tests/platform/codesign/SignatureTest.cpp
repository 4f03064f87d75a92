#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "CodesignTestSupport.h"
#include "platform/codesign/SignatureTrailer.h"
#include "platform/codesign/Signer.h"
#include "tests/support/TempDir.h"

namespace zephro::codesign {
namespace {

using testing::checkFile;
using testing::kClientRequirement;
using testing::readBytes;
using testing::TestIdentity;
using testing::writeBytes;

constexpr std::size_t kContentSize = 3000;
// Trailer of "com.zephro.app" (14) for team "Q7K2M9T4XW" (10).
constexpr std::size_t kTrailerSize = SignatureTrailer::kFixedSize + 14 + 10;

class Signature : public ::testing::Test {
 protected:
  Signature() {
    for (std::size_t i = 0; i < kContentSize; ++i)
      content_.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    writeBytes(program_, content_);
  }

  void sign(const std::filesystem::path& path,
            const std::string& identifier = "com.zephro.app") const {
    signFile(path, identifier, identity_.team.secret, identity_.certificate);
  }

  OSStatus check(const std::filesystem::path& path,
                 const std::string& requirement = kClientRequirement) {
    return checkFile(path, requirement, identity_.trustAnchor());
  }

  zephro::testing::TempDir dir_;
  std::filesystem::path program_ = dir_ / "program";
  std::vector<std::uint8_t> content_;
  TestIdentity identity_;
};

TEST_F(Signature, SignedFileVerifiesAndResigningReplacesTheSignature) {
  ASSERT_EQ(::chmod(program_.c_str(), 0751), 0);
  sign(program_);
  EXPECT_EQ(check(program_), errSecSuccess);

  auto bytes = readBytes(program_);
  ASSERT_EQ(bytes.size(), kContentSize + kTrailerSize);
  EXPECT_TRUE(std::equal(content_.begin(), content_.end(), bytes.begin()));
  struct stat info {};
  ASSERT_EQ(::stat(program_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);
  // (The signing information is read back in the CodesignTool test.)

  sign(program_, "com.zephro.other");
  bytes = readBytes(program_);
  EXPECT_EQ(bytes.size(), kContentSize + kTrailerSize + 2);
  EXPECT_TRUE(std::equal(content_.begin(), content_.end(), bytes.begin()));
  EXPECT_EQ(check(program_), errSecCSReqFailed);
  EXPECT_EQ(check(program_, R"(anchor apple generic and identifier "com.zephro.other")"),
            errSecSuccess);
}

TEST_F(Signature, AFlippedByteInContentOrTrailerFailsTheCheck) {
  sign(program_);
  const auto signedBytes = readBytes(program_);
  const auto tampered = dir_ / "tampered";
  // The first and last content bytes, then the trailer's magic, version, identifier, code
  // signature, length field and footer magic. A flipped identifier no longer names the
  // application, which is found before the content is hashed.
  const std::vector<std::pair<std::size_t, OSStatus>> flips = {
      {0, errSecCSSignatureFailed},
      {kContentSize - 1, errSecCSSignatureFailed},
      {kContentSize + 0, errSecCSSignatureFailed},
      {kContentSize + 8, errSecCSSignatureUnsupported},
      {kContentSize + 12, errSecCSReqFailed},
      {kContentSize + 132, errSecCSSignatureFailed},
      {kContentSize + 196, errSecCSSignatureFailed},
      {signedBytes.size() - 1, errSecCSUnsigned},
  };
  for (const auto& [at, expected] : flips) {
    auto bytes = signedBytes;
    bytes[at] ^= 0x01;
    writeBytes(tampered, bytes);
    EXPECT_EQ(check(tampered), expected) << "byte " << at;
  }
}

TEST_F(Signature, ForeignOrMissingSignaturesFailTheCheck) {
  writeBytes(dir_ / "empty", {});
  EXPECT_EQ(check(dir_ / "empty"), errSecCSUnsigned);
  writeBytes(dir_ / "tiny", {'Z', 'P', 'H'});
  EXPECT_EQ(check(dir_ / "tiny"), errSecCSUnsigned);

  // Another team certified by the same anchor.
  const KeyPair otherTeam = KeyPair::generate();
  const auto otherCertificate =
      TeamCertificate::issue(identity_.anchor.secret, "OTHERTEAM1", otherTeam.publicKey);
  const auto otherTeamFile = dir_ / "other-team";
  writeBytes(otherTeamFile, content_);
  signFile(otherTeamFile, "com.zephro.app", otherTeam.secret, otherCertificate);
  EXPECT_EQ(check(otherTeamFile), errSecCSReqFailed);
  EXPECT_EQ(check(otherTeamFile, "anchor apple generic"), errSecSuccess);

  sign(program_, "com.zephro.app.evil");
  EXPECT_EQ(check(program_), errSecCSReqFailed);

  // The right team ID, but certified by an anchor the verifier does not trust.
  const TestIdentity untrusted;
  const auto untrustedFile = dir_ / "untrusted";
  writeBytes(untrustedFile, content_);
  signFile(untrustedFile, "com.zephro.app", untrusted.team.secret, untrusted.certificate);
  EXPECT_EQ(check(untrustedFile), errSecCSReqFailed);
  // Without the anchor clause the certificate is not consulted, as on the platform.
  EXPECT_EQ(check(untrustedFile, R"(identifier "com.zephro.app")"), errSecSuccess);
}

TEST_F(Signature, AChecksCostIsBoundedBySizeAndDeadline) {
  sign(program_);
  const auto size = std::filesystem::file_size(program_);
  const auto past = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  const auto requirement = testing::requirement(kClientRequirement);
  std::unique_ptr<Code> code;
  ASSERT_EQ(staticCodeCreateWithPath(program_, code), errSecSuccess);
  const auto checkWith = [&](const CheckLimits& limits) {
    return checkValidity(*code, requirement, identity_.trustAnchor(), limits);
  };
  EXPECT_EQ(checkWith({.maxCodeSize = size}), errSecSuccess);
  EXPECT_EQ(checkWith({.maxCodeSize = size - 1}), errSecCSSignatureFailed);
  EXPECT_EQ(checkWith({.deadline = past}), errSecCSCancelled);

  // A file nobody we trust certified is refused on its trailer alone: with no time
  // left to hash a byte, the answer is still the requirement's.
  const TestIdentity untrusted;
  const auto untrustedFile = dir_ / "untrusted";
  writeBytes(untrustedFile, content_);
  signFile(untrustedFile, "com.zephro.app", untrusted.team.secret, untrusted.certificate);
  ASSERT_EQ(staticCodeCreateWithPath(untrustedFile, code), errSecSuccess);
  EXPECT_EQ(checkWith({.deadline = past}), errSecCSReqFailed);
}

TEST_F(Signature, SigningRefusesInconsistentInputsAndLeavesTheFileAlone) {
  const KeyPair stranger = KeyPair::generate();
  EXPECT_THROW(signFile(program_, "com.zephro.app", stranger.secret, identity_.certificate),
               std::invalid_argument);
  EXPECT_THROW(sign(program_, "com zephro app"), std::invalid_argument);
  EXPECT_THROW(sign(program_, ""), std::invalid_argument);
  EXPECT_THROW(sign(dir_ / "missing"), std::runtime_error);
  EXPECT_EQ(readBytes(program_), content_);

  sign(program_);
  auto bytes = readBytes(program_);
  bytes[kContentSize + 8] = 2;  // an unknown version
  writeBytes(program_, bytes);
  try {
    sign(program_);
    FAIL() << "signed over a damaged signature";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(
        std::string(error.what()),
        program_.string() + ": carries a damaged or unknown signature; rebuild it before signing");
  }
  EXPECT_EQ(readBytes(program_), bytes);
  EXPECT_FALSE(std::filesystem::exists(program_.string() + ".signing"));
}

TEST_F(Signature, MalformedAndTruncatedTrailersGiveAClearStatus) {
  sign(program_);
  const auto signedBytes = readBytes(program_);
  const auto damaged = dir_ / "damaged";

  for (const std::size_t cut :
       {std::size_t{1}, SignatureTrailer::kFooterSize, SignatureTrailer::kFooterSize + 1,
        kTrailerSize - 1, kTrailerSize, kTrailerSize + 1}) {
    writeBytes(damaged,
               {signedBytes.begin(), signedBytes.end() - static_cast<std::ptrdiff_t>(cut)});
    const OSStatus status = check(damaged);
    // Only the cut that happens to end on the old footer could look signed.
    ASSERT_TRUE(status == errSecCSUnsigned || status == errSecCSSignatureFailed)
        << cut << ": " << status;
  }

  const std::size_t lengthField = signedBytes.size() - SignatureTrailer::kFooterSize;
  for (const std::uint32_t length : {183u, 185u, 0xffffffffu}) {
    auto bytes = signedBytes;
    for (int i = 0; i < 4; ++i)
      bytes[lengthField + i] = static_cast<std::uint8_t>(length >> (8 * i));
    writeBytes(damaged, bytes);
    EXPECT_EQ(check(damaged), errSecCSSignatureFailed) << length;
  }
  // A footer on a file shorter than the length it declares.
  writeBytes(damaged, {signedBytes.end() - 20, signedBytes.end()});
  EXPECT_EQ(check(damaged), errSecCSSignatureFailed);

  std::unique_ptr<Code> code;
  EXPECT_EQ(staticCodeCreateWithPath(dir_.path(), code), errSecCSStaticCodeNotFound);
  EXPECT_EQ(staticCodeCreateWithPath(dir_ / "missing", code), errSecCSStaticCodeNotFound);
  EXPECT_EQ(code, nullptr);
}

TEST(KeyFiles, RoundTripAndRefuseToOverwriteOrMisread) {
  zephro::testing::TempDir dir;
  const TestIdentity identity;
  writeSecretKeyFile(dir / "team.key", identity.team.secret);
  writePublicKeyFile(dir / "team.pub", identity.team.publicKey);
  writeCertificateFile(dir / "team.cert", identity.certificate);

  EXPECT_EQ(readSecretKeyFile(dir / "team.key").publicKey(), identity.team.publicKey);
  EXPECT_EQ(readPublicKeyFile(dir / "team.pub"), identity.team.publicKey);
  const TeamCertificate certificate = readCertificateFile(dir / "team.cert");
  EXPECT_EQ(certificate.teamID, "Q7K2M9T4XW");
  EXPECT_TRUE(certificate.isIssuedBy(identity.anchor.publicKey));
  EXPECT_FALSE(certificate.isIssuedBy(identity.team.publicKey));
  struct stat info {};
  ASSERT_EQ(::stat((dir / "team.key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const auto before = readBytes(dir / "team.key");
  EXPECT_THROW(writeSecretKeyFile(dir / "team.key", KeyPair::generate().secret),
               std::runtime_error);
  EXPECT_EQ(readBytes(dir / "team.key"), before);

  const auto expectError = [](auto read, const std::filesystem::path& path,
                              const std::string& what) {
    try {
      (void)read(path);
      ADD_FAILURE() << path << " was accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), path.string() + ": " + what);
    }
  };
  expectError(readPublicKeyFile, dir / "team.key", "not a zephro-ed25519-public file");
  expectError(readSecretKeyFile, dir / "team.pub", "not a zephro-ed25519-secret file");
  writeBytes(dir / "bad.pub", {'z', 'e', 'p', 'h', 'r', 'o', '-', 'e', 'd', '2', '5', '5',
                               '1', '9', '-', 'p', 'u', 'b', 'l', 'i', 'c', ' ', '0', '0'});
  expectError(readPublicKeyFile, dir / "bad.pub", "malformed public key");
  expectError(readPublicKeyFile, dir / "missing.pub", "cannot open: No such file or directory");

  writePublicKeyFile(dir / "anchor.pub", identity.anchor.publicKey);
  EXPECT_EQ(TrustAnchor::fromFile(dir / "anchor.pub").key(), identity.anchor.publicKey);
  ASSERT_EQ(::chmod((dir / "anchor.pub").c_str(), 0664), 0);
  expectError(TrustAnchor::fromFile, dir / "anchor.pub",
              "refusing an anchor key writable by group or others");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chmod((dir / "anchor.pub").c_str(), 0644), 0);
    ASSERT_EQ(::chown((dir / "anchor.pub").c_str(), 65534, 65534), 0);
    expectError(TrustAnchor::fromFile, dir / "anchor.pub",
                "refusing an anchor key owned by uid 65534");
  }
}

TEST(CodesignTool, BuildSignsClientsAndTheToolChecksThemLikeTheHelper) {
  const std::string tool = CODESIGN_TOOL;
  auto result = testing::run({tool, "verify", "--anchor", ZEPHRO_DEV_ANCHOR_KEY, "--requirement",
                              kClientRequirement, SIGNED_CLIENT, UNSIGNED_CLIENT});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.output,
            std::string(SIGNED_CLIENT) + ": valid (identifier com.zephro.app, team Q7K2M9T4XW)\n" +
                UNSIGNED_CLIENT + ": invalid: code object is not signed at all (status -67062)\n");

  // A whole identity made with the tool, as a packager would.
  zephro::testing::TempDir dir;
  const auto at = [&](const char* name) { return (dir / name).string(); };
  ASSERT_EQ(testing::run({tool, "keygen", at("anchor.key"), at("anchor.pub")}).exitStatus, 0);
  ASSERT_EQ(testing::run({tool, "keygen", at("team.key"), at("team.pub")}).exitStatus, 0);
  ASSERT_EQ(testing::run({tool, "certify", "--anchor-key", at("anchor.key"), "--team-id", "TEAM123",
                          "--team-key", at("team.pub"), at("team.cert")})
                .exitStatus,
            0);
  std::filesystem::copy_file(UNSIGNED_CLIENT, at("client"));
  ASSERT_EQ(testing::run({tool, "sign", "--key", at("team.key"), "--certificate", at("team.cert"),
                          "--identifier", "org.example.tool", at("client")})
                .exitStatus,
            0);
  result = testing::run({tool, "verify", "--anchor", at("anchor.pub"), at("client")});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, at("client") + ": valid (identifier org.example.tool, team TEAM123)\n");
  result = testing::run({tool, "verify", "--anchor", ZEPHRO_DEV_ANCHOR_KEY, at("client")});
  EXPECT_EQ(result.output, at("client") +
                               ": invalid: code failed to satisfy specified code requirement(s) "
                               "(status -67050)\n");

  EXPECT_EQ(testing::run({tool, "verify", "--requirement", "nonsense", at("client")}).exitStatus,
            2);
}

}  // namespace
}  // namespace zephro::codesign
