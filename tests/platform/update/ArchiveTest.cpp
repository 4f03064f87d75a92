#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "TestArchive.h"
#include "platform/codesign/Keys.h"
#include "platform/update/ArchiveExtractor.h"
#include "platform/update/ArchiveSigner.h"
#include "platform/update/ArchiveVerifier.h"
#include "platform/update/Base64.h"
#include "platform/update/TreeInstaller.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using Key = std::vector<std::uint8_t>;
using testing::readFile;
using testing::TestEntry;
using Type = TestEntry::Type;
using testing::writeText;

Key keyBytes(const codesign::PublicKey& key) {
  return {key.begin(), key.end()};
}

template <typename T>
std::string problemOf(const std::variant<T, Error>& result) {
  const Error* error = std::get_if<Error>(&result);
  return error ? error->localizedDescription() : "";
}

std::string problemOf(const std::optional<Error>& error) {
  return error ? error->localizedDescription() : "";
}

std::pair<std::string, int> run(const std::string& command, const fs::path& output) {
  const int status = std::system((command + " > " + output.string()).c_str());
  return {readFile(output), status};
}

TEST(ArchiveVerifierTest, OnlyTheSignatureOfTheseBytesByThisKeyPasses) {
  const zephro::testing::TempDir dir;
  const fs::path archive = dir / "Zephro-0.9.tar.gz";
  std::string content;
  for (int i = 0; i < 5000; ++i) content.push_back(static_cast<char>(i * 31 + 7));
  writeText(archive, content);
  const codesign::KeyPair keys = codesign::KeyPair::generate();
  const std::string signature = signArchive(archive, keys.secret).edSignature;
  const Key key = keyBytes(keys.publicKey);
  // What passed is what the archive held when it was read.
  const auto verified = verifyArchive(archive, signature, key);
  ASSERT_EQ(problemOf(verified), "");
  EXPECT_EQ(std::get<Key>(verified), Key(content.begin(), content.end()));

  const std::string invalid = "The update's signature is not valid; the archive was not opened.";
  const std::string malformed = "The update's signature is not a base64 Ed25519 signature.";
  const fs::path gone = dir / "gone.tar.gz";
  const std::tuple<fs::path, std::string, Key, std::string> cases[] = {
      {archive, signature, keyBytes(codesign::KeyPair::generate().publicKey), invalid},
      {archive, "", key, "The update is not signed."},
      {archive, "not base64!", key, malformed},
      {archive, encodeBase64(Key(10, 1)), key, malformed},
      {archive, signature, Key(31, 1), "The update signing key is not an Ed25519 public key."},
      {gone, signature, key,
       "The update archive " + gone.string() + " could not be read: No such file or directory."},
  };
  for (const auto& [file, sig, k, message] : cases) {
    EXPECT_EQ(problemOf(verifyArchive(file, sig, k)), message);
  }
  EXPECT_THROW((void)signArchive(gone, keys.secret), std::runtime_error);

  // One changed byte anywhere, the last one included, breaks it.
  for (const std::size_t at : {std::size_t{0}, std::size_t{2500}, content.size() - 1}) {
    std::string tampered = content;
    tampered[at] = static_cast<char>(tampered[at] ^ 0x01);
    writeText(archive, tampered);
    EXPECT_EQ(problemOf(verifyArchive(archive, signature, key)), invalid) << at;
  }

  // The updater tests serve these attributes as the release tool prints them for a feed.
  writeText(archive, content);
  const std::string tool = CODESIGN_TOOL;
  const auto [publicKeyText, keygenStatus] =
      run(tool + " generate-update-keys " + (dir / "update.secret").string() + " " +
              (dir / "update.public").string(),
          dir / "printed");
  ASSERT_EQ(keygenStatus, 0);
  const auto publicKey = decodeBase64(publicKeyText.substr(0, publicKeyText.size() - 1));
  ASSERT_TRUE(publicKey.has_value()) << publicKeyText;
  EXPECT_EQ(*publicKey, keyBytes(codesign::readPublicKeyFile(dir / "update.public")));
  const auto [attributes, signStatus] =
      run(tool + " sign-update " + archive.string() + " --key " + (dir / "update.secret").string(),
          dir / "printed");
  ASSERT_EQ(signStatus, 0);
  std::smatch printed;
  ASSERT_TRUE(std::regex_match(
      attributes, printed,
      std::regex("sparkle:edSignature=\"([A-Za-z0-9+/=]{88})\" length=\"5000\"\n")))
      << attributes;
  EXPECT_EQ(problemOf(verifyArchive(archive, printed[1].str(), *publicKey)), "");
}

class ArchiveExtractorTest : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> pack(const std::vector<TestEntry>& entries,
                                 const std::string& format = "tar.gz") const {
    const fs::path file = dir / "archive" / ("update." + format);
    testing::writeArchive(file, entries);
    const std::string bytes = readFile(file);
    return {bytes.begin(), bytes.end()};
  }

  ArchiveExtractorTest() { fs::create_directory(dir / "archive"); }

  zephro::testing::TempDir dir;
  fs::path staging = dir / "staging";
};

TEST_F(ArchiveExtractorTest, ExtractsEachFormatWithLinksAndRisingProgress) {
  const std::vector<TestEntry> installTree{
      TestEntry::folder("./"),
      TestEntry::folder("bin/"),
      // The set-user-ID bit must not survive extraction.
      TestEntry::file("bin/zephro", std::string(200000, 'z'), 04755),
      TestEntry::file("share/zephro/Info.json", R"({"CFBundleVersion": "9"})"),
      TestEntry::linkTo("bin/zephro-latest", "zephro"),
      TestEntry::linkTo("lib/zephro/resources", "../../share/zephro"),
  };
  for (const std::string format : {"tar.gz", "tar.xz", "zip"}) {
    SCOPED_TRACE(format);
    fs::remove_all(staging);
    std::vector<double> progress;
    const auto error = extractArchive(pack(installTree, format), staging,
                                      [&](double at) { progress.push_back(at); });
    ASSERT_EQ(problemOf(error), "");
    EXPECT_EQ(readFile(staging / "bin/zephro"), std::string(200000, 'z'));
    EXPECT_EQ(fs::status(staging / "bin/zephro").permissions(), static_cast<fs::perms>(0755));
    EXPECT_EQ(fs::read_symlink(staging / "bin/zephro-latest"), "zephro");
    EXPECT_EQ(readFile(staging / "lib/zephro/resources/Info.json"), R"({"CFBundleVersion": "9"})");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 1.0);
  }
  // A folder already there may hold links of its own; it is never extracted into.
  fs::remove_all(staging);
  fs::create_directory(staging);
  EXPECT_EQ(problemOf(extractArchive(pack(installTree), staging)),
            "The staging folder " + staging.string() + " could not be created: it already exists.");
  EXPECT_TRUE(fs::is_empty(staging));

  fs::remove_all(staging);
  ASSERT_EQ(problemOf(extractArchive(
                pack({TestEntry::file("bin/zephro", "program"),
                      TestEntry::linkTo("bin/zephro-copy", "bin/zephro", Type::hardlink)}),
                staging)),
            "");
  EXPECT_TRUE(fs::equivalent(staging / "bin/zephro", staging / "bin/zephro-copy"));
}

TEST_F(ArchiveExtractorTest, RefusedArchivesLeaveNothingBehind) {
  const std::string leaves = "\" was refused: its path leaves the folder.";
  const std::string linkOut = "\" was refused: its link points outside the folder.";
  const std::string tooLarge =
      "The update archive unpacks to more than 1000 bytes; it was refused.";
  const struct {
    std::vector<TestEntry> entries;
    std::string message;
    ExtractionLimits limits = {};
    std::string format = "tar.gz";
  } cases[] = {
      {{TestEntry::file("bin/zephro", "x"), TestEntry::file("../escaped", "x")},
       "\"../escaped" + leaves},
      {{TestEntry::file("bin/../../escaped", "x")}, "\"bin/../../escaped" + leaves},
      {{TestEntry::file("/tmp/escaped", "x")},
       "\"/tmp/escaped\" was refused: its path is absolute."},
      // A link out, and the entry that would write through it.
      {{TestEntry::linkTo("out", "../.."), TestEntry::file("out/escaped", "x")}, "\"out" + linkOut},
      {{TestEntry::linkTo("bin/out", "/etc")}, "\"bin/out" + linkOut},
      // Lexically inside ("a/../x" from bin/), but "a" could itself be a link upwards.
      {{TestEntry::linkTo("bin/out", "a/../../x")}, "\"bin/out" + linkOut},
      {{TestEntry::linkTo("passwd", "../../etc/passwd", Type::hardlink)}, "\"passwd" + linkOut},
      {{TestEntry::linkTo("passwd", "/etc/passwd", Type::hardlink)}, "\"passwd" + linkOut},
      {{TestEntry::linkTo("link", "file"), TestEntry::file("file", "x"),
        TestEntry::linkTo("hard", "link", Type::hardlink)},
       "\"hard\" was refused: its link does not name a file extracted before it."},
      {{{"dev/null", Type::characterDevice, "", ""}},
       "\"dev/null\" was refused: it is a character device."},
      {{{"pipe", Type::fifo, "", ""}}, "\"pipe\" was refused: it is a FIFO."},
      {{TestEntry::file("bin/zephro", "good"), TestEntry::file("bin/./zephro", "evil")},
       "\"bin/./zephro\" was refused: its path comes twice."},
      // Never written through a link inside the folder either.
      {{TestEntry::folder("share/"), TestEntry::linkTo("bin", "share"),
        TestEntry::file("bin/zephro", "x")},
       "\"bin/zephro\" could not be extracted: "},
      // A folder may come again, so this is cheap to unpack up to the default limit.
      {std::vector<TestEntry>(10001, TestEntry::folder("bin/")),
       "The update archive has more than 10000 entries; it was refused."},
      {{TestEntry::file("big", std::string(1001, 'x'))}, tooLarge, {10, 1000}},
      // Each file fits; together they do not.
      {{TestEntry::file("a", std::string(600, 'a')), TestEntry::file("b", std::string(600, 'b'))},
       tooLarge,
       {10, 1000},
       "zip"},
      {{}, "The update archive could not be read: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const auto bytes =
        c.entries.empty() ? std::vector<std::uint8_t>(4096, 0x5a) : pack(c.entries, c.format);
    const std::string message =
        c.message.starts_with('"') ? "The update archive's entry " + c.message : c.message;
    EXPECT_THAT(problemOf(extractArchive(bytes, staging, {}, c.limits)),
                ::testing::StartsWith(message));
    // Nothing escaped beside the staging folder, which is gone too.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }
}

TEST(TreeInstallerTest, InstallsBesideWhatIsThereAndRemovesOnlyWhatItMade) {
  const zephro::testing::TempDir dir;
  const UserInstallLayout layout = UserInstallLayout::inHome(dir / "home");
  const fs::path root = dir / "home/.local/lib/zephro";
  // An unpacked release tree, with something beside it that is no part of it.
  const auto installed = [&](const std::string& version) {
    const fs::path tree = dir / ("release-" + version);
    writeText(tree / "bin/zephro", version);
    writeText(tree / "bin/zephroctl", "ctl " + version);
    writeText(tree / "share/zephro/Info.json", R"({"CFBundleVersion": ")" + version + R"("})");
    writeText(tree / "share/keyrings/login.keyring", "secret");
    auto result = installForUser(tree / "bin/zephro", layout);
    EXPECT_EQ(problemOf(result), "");
    return std::holds_alternative<UserInstall>(result) ? std::get<UserInstall>(result)
                                                       : UserInstall{};
  };
  writeText(layout.binDir / "zephroctl", "someone else's");
  const UserInstall first = installed("1.0");
  EXPECT_EQ(first.linked, std::vector<fs::path>{layout.binDir / "zephro"});
  EXPECT_EQ(first.leftAlone, std::vector<fs::path>{layout.binDir / "zephroctl"});
  EXPECT_EQ(readFile(layout.binDir / "zephro"), "1.0");
  EXPECT_EQ(readFile(layout.binDir / "zephroctl"), "someone else's");
  EXPECT_EQ(fs::read_symlink(root / "current"), "1.0");
  EXPECT_FALSE(fs::exists(root / "1.0/share/keyrings"));
  const auto manifest = InstallManifest::load(root / "1.0");
  ASSERT_TRUE(manifest.has_value());
  EXPECT_EQ(manifest->files,
            (std::vector<std::string>{"bin/zephro", "bin/zephroctl", "share/zephro/Info.json"}));
  EXPECT_EQ(manifest->replaces, std::nullopt);

  // Run from its own tree, the same version again changes nothing.
  EXPECT_EQ(problemOf(installForUser(root / "1.0/bin/zephro", layout)),
            "Zephro in " + (root / "1.0").string() +
                " was installed by its updater already and updates itself.");

  (void)installed("2.0");
  EXPECT_EQ(fs::read_symlink(root / "current"), "2.0");
  EXPECT_EQ(Installation::of(root / "1.0/bin/zephro").kind, Installation::Kind::superseded);
  // Left in the old tree by the user, and a listed folder swapped for a link to elsewhere.
  writeText(root / "1.0/notes.txt", "mine");
  writeText(dir / "elsewhere/Info.json", "not the updater's");
  fs::remove_all(root / "1.0/share/zephro");
  fs::create_directory_symlink(dir / "elsewhere", root / "1.0/share/zephro");
  const auto running = Installation::of(layout.binDir / "zephro");
  ASSERT_EQ(running.manifest->replaces, "1.0");
  ASSERT_EQ(removeReplacedVersion(running), std::nullopt);
  EXPECT_EQ(readFile(root / "1.0/notes.txt"), "mine");
  EXPECT_EQ(readFile(dir / "elsewhere/Info.json"), "not the updater's");
  EXPECT_FALSE(fs::exists(root / "1.0/bin"));
  EXPECT_FALSE(fs::exists(root / "1.0" / InstallManifest::kFileName));
  EXPECT_EQ(InstallManifest::load(root / "2.0")->replaces, std::nullopt);
  EXPECT_EQ(readFile(layout.binDir / "zephro"), "2.0");

  // What the updater did not make is never replaced.
  const fs::path staged = dir / "staged";
  writeText(staged / "bin/zephro", "3.0");
  writeText(root / "3.0/bin/zephro", "someone's own 3.0");
  EXPECT_EQ(problemOf(installVersion(staged, root, "3.0")),
            (root / "3.0").string() +
                " is in the way: the updater did not install it. Nothing was changed.");
  EXPECT_EQ(readFile(root / "3.0/bin/zephro"), "someone's own 3.0");
  EXPECT_EQ(fs::read_symlink(root / "current"), "2.0");
  EXPECT_TRUE(fs::exists(staged / "bin/zephro"));
  fs::remove(root / "current");
  fs::create_directory(root / "current");
  EXPECT_EQ(problemOf(installVersion(staged, root, "4.0")),
            (root / "current").string() + " is not the updater's link. Nothing was changed.");
  EXPECT_FALSE(fs::exists(root / "4.0"));
}

}  // namespace
}  // namespace zephro::update
