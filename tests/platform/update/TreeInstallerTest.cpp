#include "platform/update/TreeInstaller.h"

#include <gtest/gtest.h>

#include "TestArchive.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeText;

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
