#include "platform/update/ArchiveVerifier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>

#include "TestArchive.h"
#include "platform/codesign/Keys.h"
#include "platform/update/Appcast.h"
#include "platform/update/ArchiveSigner.h"
#include "platform/update/Base64.h"
#include "tests/support/TempDir.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::writeText;

std::vector<std::uint8_t> keyBytes(const codesign::PublicKey& key) {
  return {key.begin(), key.end()};
}

std::optional<Error> problemOf(const std::variant<std::vector<std::uint8_t>, Error>& verified) {
  if (const Error* error = std::get_if<Error>(&verified)) return *error;
  return std::nullopt;
}

// What a command prints on stdout, and its exit status.
std::pair<std::string, int> run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
  std::string output;
  std::array<char, 256> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;) {
    output.append(buffer.data(), n);
  }
  const int status = ::pclose(pipe.release());
  return {output, status};
}

class ArchiveVerifierTest : public ::testing::Test {
 protected:
  ArchiveVerifierTest() {
    std::string content;
    for (int i = 0; i < 5000; ++i) content.push_back(static_cast<char>(i * 31 + 7));
    writeText(archive, content);
  }

  zephro::testing::TempDir dir;
  fs::path archive = dir / "Zephro-0.9.tar.gz";
  codesign::KeyPair keys = codesign::KeyPair::generate();
};

TEST_F(ArchiveVerifierTest, OnlyTheSignatureOfTheseBytesByThisKeyPasses) {
  const SignedArchive signedArchive = signArchive(archive, keys.secret);
  EXPECT_EQ(signedArchive.length, 5000u);
  // What passed is what the archive held when it was read.
  const auto verified = verifyArchive(archive, signedArchive.edSignature, keyBytes(keys.publicKey));
  ASSERT_EQ(problemOf(verified), std::nullopt);
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(verified), testing::readBytes(archive));

  const std::string invalid = "The update's signature is not valid; the archive was not opened.";
  const std::string malformed = "The update's signature is not a base64 Ed25519 signature.";
  const auto otherKey = keyBytes(codesign::KeyPair::generate().publicKey);
  const std::vector<std::uint8_t> shortKey(31, 1);
  const std::vector<std::uint8_t> tenBytes(10, 1);
  struct Case {
    std::string signature;
    std::vector<std::uint8_t> key;
    std::string message;
  };
  const std::vector<Case> cases{
      {signedArchive.edSignature, otherKey, invalid},
      {"", keyBytes(keys.publicKey), "The update is not signed."},
      {"not base64!", keyBytes(keys.publicKey), malformed},
      {encodeBase64(tenBytes), keyBytes(keys.publicKey), malformed},
      {signedArchive.edSignature, shortKey, "The update signing key is not an Ed25519 public key."},
  };
  for (const Case& c : cases) {
    const auto error = problemOf(verifyArchive(archive, c.signature, c.key));
    ASSERT_TRUE(error.has_value()) << c.message;
    EXPECT_EQ(error->localizedDescription(), c.message);
  }

  // One changed byte anywhere, the last one included, breaks it.
  const std::string original = readText(archive);
  for (const std::size_t at : {std::size_t{0}, std::size_t{2500}, original.size() - 1}) {
    std::string tampered = original;
    tampered[at] = static_cast<char>(tampered[at] ^ 0x01);
    writeText(archive, tampered);
    const auto error =
        problemOf(verifyArchive(archive, signedArchive.edSignature, keyBytes(keys.publicKey)));
    ASSERT_TRUE(error.has_value()) << at;
    EXPECT_EQ(error->localizedDescription(), invalid);
  }
}

TEST_F(ArchiveVerifierTest, MissingArchiveIsAnError) {
  const auto signature = signArchive(archive, keys.secret).edSignature;
  const auto error =
      problemOf(verifyArchive(dir / "gone.tar.gz", signature, keyBytes(keys.publicKey)));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->localizedDescription(), "The update archive " + (dir / "gone.tar.gz").string() +
                                               " could not be read: No such file or directory.");
  EXPECT_THROW((void)signArchive(dir / "gone.tar.gz", keys.secret), std::runtime_error);
}

// The release tool makes the keys and prints the attributes a feed carries; the updater
// must accept exactly what it prints.
TEST_F(ArchiveVerifierTest, ReleaseToolSignaturesVerifyThroughTheFeed) {
  const std::string tool = CODESIGN_TOOL;
  const auto [publicKeyText, keygenStatus] =
      run(tool + " generate-update-keys " + (dir / "update.secret").string() + " " +
          (dir / "update.public").string());
  ASSERT_EQ(keygenStatus, 0);
  ASSERT_FALSE(publicKeyText.empty());
  const auto publicKey = decodeBase64(publicKeyText.substr(0, publicKeyText.size() - 1));
  ASSERT_TRUE(publicKey.has_value()) << publicKeyText;
  EXPECT_EQ(*publicKey, keyBytes(codesign::readPublicKeyFile(dir / "update.public")));

  const auto [attributes, signStatus] =
      run(tool + " sign-update " + archive.string() + " --key " + (dir / "update.secret").string());
  ASSERT_EQ(signStatus, 0);
  EXPECT_TRUE(std::regex_match(attributes, std::regex("sparkle:edSignature=\"[A-Za-z0-9+/=]{88}\" "
                                                      "length=\"5000\"\n")))
      << attributes;

  const auto items = parseAppcast(
      R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
      "<item><sparkle:version>9</sparkle:version><enclosure url=\"https://example.org/z.tar.gz\" " +
      attributes + "/></item></channel></rss>");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].enclosure->length, 5000u);
  EXPECT_EQ(problemOf(verifyArchive(archive, items[0].enclosure->edSignature, *publicKey)),
            std::nullopt);
}

}  // namespace
}  // namespace zephro::update
