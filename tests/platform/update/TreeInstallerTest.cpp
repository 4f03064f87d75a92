#include "platform/update/TreeInstaller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestArchive.h"
#include "tests/support/TempDir.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::writeText;

class TreeInstallerTest : public ::testing::Test {
 protected:
  TreeInstallerTest() { writeText(prefix / "bin/zephro", "0.8"); }

  fs::path stage(const std::string& version) const {
    fs::path staged = dir / ("staged-" + version);
    writeText(staged / "bin/zephro", version);
    writeText(staged / "share/zephro/Info.json", version);
    return staged;
  }

  zephro::testing::TempDir dir;
  fs::path prefix = dir / "zephro";
  fs::path previous = dir / "zephro.previous";
};

TEST_F(TreeInstallerTest, NewTreeTakesThePrefixAndTheOldOneIsKeptUntilRemoved) {
  EXPECT_EQ(previousTreePath(prefix), previous);
  EXPECT_EQ(previousTreePath(dir / "zephro/"), previous);

  const fs::path first = stage("0.9");
  ASSERT_EQ(installTree(first, prefix), std::nullopt);
  EXPECT_EQ(readText(prefix / "bin/zephro"), "0.9");
  EXPECT_EQ(readText(prefix / "share/zephro/Info.json"), "0.9");
  EXPECT_EQ(readText(previous / "bin/zephro"), "0.8");
  EXPECT_FALSE(fs::exists(first));

  // The next update replaces the older previous tree.
  ASSERT_EQ(installTree(stage("1.0"), prefix / ""), std::nullopt);
  EXPECT_EQ(readText(prefix / "bin/zephro"), "1.0");
  EXPECT_EQ(readText(previous / "bin/zephro"), "0.9");

  EXPECT_EQ(removePreviousTree(prefix), std::nullopt);
  EXPECT_FALSE(fs::exists(previous));
  EXPECT_EQ(removePreviousTree(prefix), std::nullopt);
}

TEST_F(TreeInstallerTest, OnlyAFolderOfTheUsersOwnIsWritable) {
  const uid_t me = ::geteuid();
  fs::create_directory_symlink(prefix, dir / "link");
  writeText(dir / "file", "");
  EXPECT_TRUE(isUserWritablePrefix(prefix, me));
  EXPECT_FALSE(isUserWritablePrefix(prefix, me + 1));  // another user's tree
  EXPECT_FALSE(isUserWritablePrefix(dir / "link", me));
  EXPECT_FALSE(isUserWritablePrefix(dir / "file", me));
  EXPECT_FALSE(isUserWritablePrefix(dir / "missing", me));
  // Root may write anywhere, but a tree without the owner's write bit is not for updates.
  fs::permissions(prefix, static_cast<fs::perms>(0555));
  EXPECT_FALSE(isUserWritablePrefix(prefix, me));
}

TEST_F(TreeInstallerTest, RefusedInstallationsChangeNothing) {
  const fs::path staged = stage("0.9");
  const fs::path notATree = dir / "not-a-tree";
  writeText(notATree / "zephro", "0.9");
  const fs::path systemOwned = dir / "usr";
  writeText(systemOwned / "bin/zephro", "0.8");
  ASSERT_EQ(::chmod(systemOwned.c_str(), 0555), 0);

  struct Case {
    fs::path staged;
    fs::path prefix;
    std::string message;
  };
  const std::vector<Case> cases{
      {staged, systemOwned,
       "Zephro was installed by the system's package manager; update it there."},
      {notATree, prefix,
       "The update holds no bin/zephro; it is not an install tree of Zephro. Nothing was "
       "changed."},
  };
  for (const Case& c : cases) {
    const auto error = installTree(c.staged, c.prefix);
    ASSERT_TRUE(error.has_value()) << c.message;
    EXPECT_EQ(error->localizedDescription(), c.message);
    EXPECT_EQ(readText(c.prefix / "bin/zephro"), "0.8");
    EXPECT_TRUE(fs::exists(c.staged));
    EXPECT_FALSE(fs::exists(previousTreePath(c.prefix)));
  }
}

TEST_F(TreeInstallerTest, FailedSecondRenamePutsTheRunningVersionBack) {
  // A tree cannot be renamed into itself, so the second rename fails for real.
  const fs::path staged = stage("0.9");
  const fs::path inside = staged / "app";
  writeText(inside / "bin/zephro", "0.8");

  const auto error = installTree(staged, inside);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->localizedDescription(), "The new version could not be moved to " +
                                               inside.string() +
                                               ": Invalid argument. The running version was put "
                                               "back.");
  EXPECT_EQ(readText(inside / "bin/zephro"), "0.8");
  EXPECT_FALSE(fs::exists(previousTreePath(inside)));
}

TEST_F(TreeInstallerTest, InstallPrefixIsTheFolderAboveBin) {
  EXPECT_EQ(installPrefixOf("/home/ada/.local/opt/zephro/bin/zephro"),
            fs::path("/home/ada/.local/opt/zephro"));
  EXPECT_EQ(installPrefixOf("/usr/bin/zephro"), fs::path("/usr"));
  EXPECT_EQ(installPrefixOf("/work/build/app/zephro"), std::nullopt);
}

}  // namespace
}  // namespace zephro::update
