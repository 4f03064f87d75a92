// An update archive from its signature to the install tree it becomes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
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
using testing::ArchiveFormat;
using testing::readBytes;
using testing::readFile;
using testing::TestEntry;
using Type = TestEntry::Type;
using testing::writeText;

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
    writeText(archive, content);
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
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(verified), readBytes(archive));

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
    writeText(archive, tampered);
    EXPECT_EQ(problemOf(verifyArchive(archive, signature, key)), invalid) << at;
  }
}

// The release tool makes the keys and prints the attributes a feed carries; the updater
// must accept exactly what it prints.
TEST_F(ArchiveVerifierTest, ReleaseToolKeysAndSignaturesVerify) {
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
  // The updater tests serve enclosureAttributes(), which the tool prints, in their feeds.
  std::smatch signature;
  ASSERT_TRUE(std::regex_match(
      attributes, signature,
      std::regex("sparkle:edSignature=\"([A-Za-z0-9+/=]{88})\" length=\"5000\"\n")))
      << attributes;
  EXPECT_EQ(problemOf(verifyArchive(archive, signature[1].str(), *publicKey)), "");
}

// An install tree as a release packs it, with the kinds of entry one has.
const std::vector<TestEntry> kInstallTree{
    TestEntry::folder("./"),
    TestEntry::folder("bin/"),
    // The set-user-ID bit must not survive extraction.
    TestEntry::file("bin/zephro", std::string(200000, 'z'), 04755),
    TestEntry::file("share/zephro/Info.json", R"({"CFBundleVersion": "9"})"),
    TestEntry::linkTo("bin/zephro-latest", "zephro"),
    TestEntry::linkTo("lib/zephro/resources", "../../share/zephro"),
};

class ArchiveExtractorTest : public ::testing::Test {
 protected:
  zephro::testing::TempDir dir;
  fs::path archive = dir / "update.archive";
  fs::path staging = dir / "staging";
};

TEST_F(ArchiveExtractorTest, ExtractsEachFormatWithLinksAndRisingProgress) {
  for (const ArchiveFormat format :
       {ArchiveFormat::tarGz, ArchiveFormat::tarXz, ArchiveFormat::zip}) {
    SCOPED_TRACE(static_cast<int>(format));
    fs::remove_all(staging);
    testing::writeArchive(archive, format, kInstallTree);
    std::vector<double> progress;
    const auto error =
        extractArchive(readBytes(archive), staging, [&](double at) { progress.push_back(at); });
    ASSERT_EQ(error, std::nullopt) << error->localizedDescription();

    EXPECT_EQ(readFile(staging / "bin/zephro"), std::string(200000, 'z'));
    EXPECT_EQ(fs::status(staging / "bin/zephro").permissions(), static_cast<fs::perms>(0755));
    EXPECT_EQ(fs::read_symlink(staging / "bin/zephro-latest"), "zephro");
    EXPECT_EQ(readFile(staging / "lib/zephro/resources/Info.json"), R"({"CFBundleVersion": "9"})");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 1.0);
  }
  testing::writeArchive(archive, ArchiveFormat::tarGz,
                        {TestEntry::file("bin/zephro", "program"),
                         TestEntry::linkTo("bin/zephro-copy", "bin/zephro", Type::hardlink)});
  fs::remove_all(staging);
  ASSERT_EQ(extractArchive(readBytes(archive), staging), std::nullopt);
  EXPECT_TRUE(fs::equivalent(staging / "bin/zephro", staging / "bin/zephro-copy"));
}

TEST_F(ArchiveExtractorTest, RefusedArchivesLeaveNothingBehind) {
  struct Case {
    std::vector<TestEntry> entries;
    std::string message;
    ExtractionLimits limits = {};
    ArchiveFormat format = ArchiveFormat::tarGz;
  };
  const std::string entry = "The update archive's entry ";
  const std::string leaves = "\" was refused: its path leaves the folder.";
  const std::string linkOut = "\" was refused: its link points outside the folder.";
  const std::string tooLarge =
      "The update archive unpacks to more than 1000 bytes; it was refused.";
  const std::vector<Case> cases{
      {{TestEntry::file("bin/zephro", "x"), TestEntry::file("../escaped", "x")},
       entry + "\"../escaped" + leaves},
      {{TestEntry::file("bin/../../escaped", "x")}, entry + "\"bin/../../escaped" + leaves},
      {{TestEntry::file("/tmp/escaped", "x")},
       entry + "\"/tmp/escaped\" was refused: its path is absolute."},
      // A link out, and the entry that would write through it.
      {{TestEntry::linkTo("out", "../.."), TestEntry::file("out/escaped", "x")},
       entry + "\"out" + linkOut},
      {{TestEntry::linkTo("bin/out", "/etc")}, entry + "\"bin/out" + linkOut},
      // Lexically inside ("a/../x" from bin/), but "a" could itself be a link upwards.
      {{TestEntry::linkTo("bin/out", "a/../../x")}, entry + "\"bin/out" + linkOut},
      {{TestEntry::linkTo("bin/out", "../../x")}, entry + "\"bin/out" + linkOut},
      {{TestEntry::linkTo("passwd", "../../etc/passwd", Type::hardlink)},
       entry + "\"passwd" + linkOut},
      {{TestEntry::linkTo("passwd", "/etc/passwd", Type::hardlink)}, entry + "\"passwd" + linkOut},
      {{TestEntry::linkTo("link", "file"), TestEntry::file("file", "x"),
        TestEntry::linkTo("hard", "link", Type::hardlink)},
       entry + "\"hard\" was refused: its link does not name a file extracted before it."},
      {{TestEntry::special("dev/null", Type::characterDevice)},
       entry + "\"dev/null\" was refused: it is a character device."},
      {{TestEntry::special("pipe", Type::fifo)}, entry + "\"pipe\" was refused: it is a FIFO."},
      {{TestEntry::file("bin/zephro", "good"), TestEntry::file("bin/./zephro", "evil")},
       entry + "\"bin/./zephro\" was refused: its path comes twice."},
      // Never written through a link inside the folder either.
      {{TestEntry::folder("share/"), TestEntry::linkTo("bin", "share"),
        TestEntry::file("bin/zephro", "x")},
       entry + "\"bin/zephro\" could not be extracted: "},
      // A folder may come again, so this is cheap to unpack up to the default limit.
      {std::vector<TestEntry>(10001, TestEntry::folder("bin/")),
       "The update archive has more than 10000 entries; it was refused."},
      {{TestEntry::file("big", std::string(1001, 'x'))}, tooLarge, {10, 1000}},
      // Each file fits; together they do not.
      {{TestEntry::file("a", std::string(600, 'a')), TestEntry::file("b", std::string(600, 'b'))},
       tooLarge,
       {10, 1000},
       ArchiveFormat::zip},
      {{}, "The update archive could not be read: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    if (c.entries.empty()) {
      writeText(archive, std::string(4096, '\x5a'));
    } else {
      testing::writeArchive(archive, c.format, c.entries);
    }
    const auto error = extractArchive(readBytes(archive), staging, {}, c.limits);
    ASSERT_TRUE(error.has_value());
    EXPECT_THAT(error->localizedDescription(), ::testing::StartsWith(c.message));
    // Only the archive is left in the folder: nothing escaped beside the staging folder.
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging)));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }

  // A folder already there may hold links of its own; it is never extracted into.
  testing::writeArchive(archive, ArchiveFormat::zip, kInstallTree);
  fs::create_directory(staging);
  const auto error = extractArchive(readBytes(archive), staging);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->localizedDescription(),
            "The staging folder " + staging.string() + " could not be created: it already exists.");
  EXPECT_TRUE(fs::is_empty(staging));
}

class TreeInstallerTest : public ::testing::Test {
 protected:
  // An unpacked release tree of `version`, with something beside it that is no part of it.
  fs::path release(const std::string& version) const {
    const fs::path tree = dir / ("release-" + version);
    writeText(tree / "bin/zephro", version);
    writeText(tree / "bin/zephroctl", "ctl " + version);
    writeText(tree / "share/zephro/Info.json", R"({"CFBundleVersion": ")" + version + R"("})");
    writeText(tree / "share/keyrings/login.keyring", "secret");
    return tree;
  }

  UserInstall installed(const std::string& version) const {
    auto result = installForUser(release(version) / "bin/zephro", layout);
    EXPECT_TRUE(std::holds_alternative<UserInstall>(result));
    return std::holds_alternative<UserInstall>(result) ? std::get<UserInstall>(result)
                                                       : UserInstall{};
  }

  zephro::testing::TempDir dir;
  UserInstallLayout layout = UserInstallLayout::inHome(dir / "home");
  fs::path root = dir / "home/.local/lib/zephro";
};

TEST_F(TreeInstallerTest, FirstInstallLaysOutOnlyTheApplicationAndLinksItWhereNamesAreFree) {
  writeText(layout.binDir / "zephroctl", "someone else's");
  const UserInstall first = installed("1.0");
  EXPECT_EQ(first.version, "1.0");
  EXPECT_EQ(first.tree, root / "1.0");
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
  EXPECT_EQ(manifest->folders, (std::vector<std::string>{"bin", "share", "share/zephro"}));
  EXPECT_EQ(manifest->replaces, std::nullopt);

  // Run from its own tree, it knows itself; the same version again changes nothing.
  const auto running = Installation::of(layout.binDir / "zephro");
  EXPECT_EQ(running.kind, Installation::Kind::managed);
  EXPECT_EQ(running.launchPath(), root / "current/bin/zephro");
  const auto again = installForUser(root / "1.0/bin/zephro", layout);
  ASSERT_TRUE(std::holds_alternative<Error>(again));
  EXPECT_EQ(std::get<Error>(again).localizedDescription(),
            "Zephro in " + (root / "1.0").string() +
                " was installed by its updater already and updates itself.");
}

TEST_F(TreeInstallerTest, ReplacedVersionLosesOnlyWhatItsManifestLists) {
  (void)installed("1.0");
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
}

TEST_F(TreeInstallerTest, WhatTheUpdaterDidNotMakeIsNeverReplaced) {
  (void)installed("1.0");
  const fs::path staged = dir / "staged";
  writeText(staged / "bin/zephro", "2.0");
  writeText(root / "2.0/bin/zephro", "someone's own 2.0");
  const auto inTheWay = installVersion(staged, root, "2.0");
  ASSERT_TRUE(inTheWay.has_value());
  EXPECT_EQ(inTheWay->localizedDescription(),
            (root / "2.0").string() +
                " is in the way: the updater did not install it. Nothing was changed.");
  EXPECT_EQ(readFile(root / "2.0/bin/zephro"), "someone's own 2.0");
  EXPECT_EQ(fs::read_symlink(root / "current"), "1.0");
  EXPECT_TRUE(fs::exists(staged / "bin/zephro"));

  fs::remove(root / "current");
  fs::create_directory(root / "current");
  const auto notALink = installVersion(staged, root, "3.0");
  ASSERT_TRUE(notALink.has_value());
  EXPECT_EQ(notALink->localizedDescription(),
            (root / "current").string() + " is not the updater's link. Nothing was changed.");
  EXPECT_FALSE(fs::exists(root / "3.0"));
}

}  // namespace
}  // namespace zephro::update
