#include "platform/update/ArchiveVerifier.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>

#include "TestArchive.h"
#include "platform/codesign/Keys.h"
#include "platform/update/Appcast.h"
#include "platform/update/ArchiveSigner.h"
#include "platform/update/Base64.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using Key = std::vector<std::uint8_t>;

Key keyBytes(const codesign::PublicKey& key) {
  return {key.begin(), key.end()};
}

std::string problemOf(const std::variant<std::vector<std::uint8_t>, Error>& verified) {
  const Error* error = std::get_if<Error>(&verified);
  return error ? error->localizedDescription() : "";
}

// What a command prints on stdout, and its exit status.
std::pair<std::string, int> run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
  std::string output;
  std::array<char, 256> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;) {
    output.append(buffer.data(), n);
  }
  return {output, ::pclose(pipe.release())};
}

class ArchiveVerifierTest : public ::testing::Test {
 protected:
  ArchiveVerifierTest() {
    for (int i = 0; i < 5000; ++i) content.push_back(static_cast<char>(i * 31 + 7));
    testing::writeText(archive, content);
  }

  zephro::testing::TempDir dir;
  fs::path archive = dir / "Zephro-0.9.tar.gz";
  std::string content;
  codesign::KeyPair keys = codesign::KeyPair::generate();
};

TEST_F(ArchiveVerifierTest, OnlyTheSignatureOfTheseBytesByThisKeyPasses) {
  const SignedArchive signedArchive = signArchive(archive, keys.secret);
  EXPECT_EQ(signedArchive.length, 5000u);
  const std::string& signature = signedArchive.edSignature;
  const Key key = keyBytes(keys.publicKey);
  // What passed is what the archive held when it was read.
  const auto verified = verifyArchive(archive, signature, key);
  ASSERT_EQ(problemOf(verified), "");
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(verified), testing::readBytes(archive));

  const std::string invalid = "The update's signature is not valid; the archive was not opened.";
  const std::string malformed = "The update's signature is not a base64 Ed25519 signature.";
  const struct {
    fs::path file;
    std::string signature;
    Key key;
    std::string message;
  } cases[] = {
      {archive, signature, keyBytes(codesign::KeyPair::generate().publicKey), invalid},
      {archive, "", key, "The update is not signed."},
      {archive, "not base64!", key, malformed},
      {archive, encodeBase64(Key(10, 1)), key, malformed},
      {archive, signature, Key(31, 1), "The update signing key is not an Ed25519 public key."},
      {dir / "gone.tar.gz", signature, key,
       "The update archive " + (dir / "gone.tar.gz").string() +
           " could not be read: No such file or directory."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(problemOf(verifyArchive(c.file, c.signature, c.key)), c.message);
  EXPECT_THROW((void)signArchive(dir / "gone.tar.gz", keys.secret), std::runtime_error);

  // One changed byte anywhere, the last one included, breaks it.
  for (const std::size_t at : {std::size_t{0}, std::size_t{2500}, content.size() - 1}) {
    std::string tampered = content;
    tampered[at] = static_cast<char>(tampered[at] ^ 0x01);
    testing::writeText(archive, tampered);
    EXPECT_EQ(problemOf(verifyArchive(archive, signature, key)), invalid) << at;
  }
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
  EXPECT_EQ(problemOf(verifyArchive(archive, items[0].enclosure->edSignature, *publicKey)), "");
}

}  // namespace
}  // namespace zephro::update
