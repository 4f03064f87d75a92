#include "platform/update/ArchiveExtractor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestArchive.h"
#include "tests/support/TempDir.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveFormat;
using testing::readText;
using testing::TestEntry;
using Type = TestEntry::Type;

// An install tree as a release packs it, with the kinds of entry one has.
const std::vector<TestEntry> kInstallTree{
    TestEntry::folder("./"),
    TestEntry::folder("bin/"),
    // The set-user-ID bit must not survive extraction.
    TestEntry::file("bin/zephro", std::string(200000, 'z'), 04755),
    TestEntry::file("share/zephro/Info.json", R"({"CFBundleVersion": "9"})"),
    TestEntry::symlink("bin/zephro-latest", "zephro"),
    TestEntry::symlink("lib/zephro/resources", "../../share/zephro"),
};

std::vector<double> extractedWithProgress(const fs::path& archive, const fs::path& staging,
                                          std::optional<Error>& error) {
  std::vector<double> progress;
  error = extractArchive(testing::readBytes(archive), staging,
                         [&](double fraction) { progress.push_back(fraction); });
  return progress;
}

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

    std::optional<Error> error;
    const auto progress = extractedWithProgress(archive, staging, error);
    ASSERT_EQ(error, std::nullopt) << error->localizedDescription();

    EXPECT_EQ(readText(staging / "bin/zephro"), std::string(200000, 'z'));
    EXPECT_EQ(fs::status(staging / "bin/zephro").permissions(), static_cast<fs::perms>(0755));
    EXPECT_EQ(fs::read_symlink(staging / "bin/zephro-latest"), "zephro");
    EXPECT_EQ(readText(staging / "lib/zephro/resources/Info.json"), R"({"CFBundleVersion": "9"})");

    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 1.0);
  }
}

TEST_F(ArchiveExtractorTest, HardLinkToAFileExtractedBeforeSharesIt) {
  testing::writeArchive(archive, ArchiveFormat::tarGz,
                        {TestEntry::file("bin/zephro", "program"),
                         TestEntry::hardlink("bin/zephro-copy", "bin/zephro")});
  ASSERT_EQ(extractArchive(testing::readBytes(archive), staging), std::nullopt);
  EXPECT_TRUE(fs::equivalent(staging / "bin/zephro", staging / "bin/zephro-copy"));
}

TEST_F(ArchiveExtractorTest, RefusedEntriesLeaveNothingBehind) {
  struct Case {
    std::vector<TestEntry> entries;
    std::string message;
  };
  const std::string prefix = "The update archive's entry ";
  const std::vector<Case> cases{
      {{TestEntry::file("bin/zephro", "x"), TestEntry::file("../escaped", "x")},
       prefix + "\"../escaped\" was refused: its path leaves the folder."},
      {{TestEntry::file("bin/../../escaped", "x")},
       prefix + "\"bin/../../escaped\" was refused: its path leaves the folder."},
      {{TestEntry::file("/tmp/escaped", "x")},
       prefix + "\"/tmp/escaped\" was refused: its path is absolute."},
      // A link out, and the entry that would write through it.
      {{TestEntry::symlink("out", "../.."), TestEntry::file("out/escaped", "x")},
       prefix + "\"out\" was refused: its link points outside the folder."},
      {{TestEntry::symlink("bin/out", "/etc")},
       prefix + "\"bin/out\" was refused: its link points outside the folder."},
      // Lexically inside ("a/../x" from bin/), but "a" could itself be a link upwards.
      {{TestEntry::symlink("bin/out", "a/../../x")},
       prefix + "\"bin/out\" was refused: its link points outside the folder."},
      {{TestEntry::symlink("bin/out", "../../x")},
       prefix + "\"bin/out\" was refused: its link points outside the folder."},
      {{TestEntry::hardlink("passwd", "../../etc/passwd")},
       prefix + "\"passwd\" was refused: its link points outside the folder."},
      {{TestEntry::hardlink("passwd", "/etc/passwd")},
       prefix + "\"passwd\" was refused: its link points outside the folder."},
      {{TestEntry::symlink("link", "file"), TestEntry::file("file", "x"),
        TestEntry::hardlink("hard", "link")},
       prefix + "\"hard\" was refused: its link does not name a file extracted before it."},
      {{TestEntry::special("dev/null", Type::characterDevice)},
       prefix + "\"dev/null\" was refused: it is a character device."},
      {{TestEntry::special("pipe", Type::fifo)}, prefix + "\"pipe\" was refused: it is a FIFO."},
      {{TestEntry::file("bin/zephro", "good"), TestEntry::file("bin/./zephro", "evil")},
       prefix + "\"bin/./zephro\" was refused: its path comes twice."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    testing::writeArchive(archive, ArchiveFormat::tarGz, c.entries);
    const auto error = extractArchive(testing::readBytes(archive), staging);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription(), c.message);
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging)));
    // Only the archive is left in the folder: nothing escaped beside the staging folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }
}

TEST_F(ArchiveExtractorTest, ArchivesPastTheLimitsAreRefused) {
  struct Case {
    ArchiveFormat format;
    std::vector<TestEntry> entries;
    ExtractionLimits limits;
    std::string message;
  };
  const std::string tooMany = "The update archive has more than 10000 entries; it was refused.";
  const std::string tooLarge =
      "The update archive unpacks to more than 1000 bytes; it was refused.";
  const std::vector<Case> cases{
      // A folder may come again, so this is cheap to unpack up to the default limit.
      {ArchiveFormat::tarGz, std::vector<TestEntry>(10001, TestEntry::folder("bin/")), {}, tooMany},
      {ArchiveFormat::tarGz,
       {TestEntry::file("big", std::string(1001, 'x'))},
       {10, 1000},
       tooLarge},
      // Each file fits; together they do not.
      {ArchiveFormat::zip,
       {TestEntry::file("a", std::string(600, 'a')), TestEntry::file("b", std::string(600, 'b'))},
       {10, 1000},
       tooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    testing::writeArchive(archive, c.format, c.entries);
    const auto error = extractArchive(testing::readBytes(archive), staging, {}, c.limits);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription(), c.message);
    EXPECT_FALSE(fs::exists(staging));
  }
}

TEST_F(ArchiveExtractorTest, NeverWritesThroughALinkInsideTheFolder) {
  testing::writeArchive(archive, ArchiveFormat::tarGz,
                        {TestEntry::folder("share/"), TestEntry::symlink("bin", "share"),
                         TestEntry::file("bin/zephro", "x")});
  const auto error = extractArchive(testing::readBytes(archive), staging);
  ASSERT_TRUE(error.has_value());
  EXPECT_THAT(error->localizedDescription(),
              ::testing::StartsWith("The update archive's entry \"bin/zephro\" could not be "
                                    "extracted: "));
  EXPECT_FALSE(fs::exists(staging));
}

TEST_F(ArchiveExtractorTest, UnreadableArchiveOrExistingStagingFolderIsAnError) {
  testing::writeText(archive, std::string(4096, '\x5a'));
  auto error = extractArchive(testing::readBytes(archive), staging);
  ASSERT_TRUE(error.has_value());
  EXPECT_THAT(error->localizedDescription(),
              ::testing::StartsWith("The update archive could not be read: "));
  EXPECT_FALSE(fs::exists(staging));

  // A folder already there may hold links of its own; it is never extracted into.
  testing::writeArchive(archive, ArchiveFormat::zip, kInstallTree);
  fs::create_directory(staging);
  error = extractArchive(testing::readBytes(archive), staging);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->localizedDescription(),
            "The staging folder " + staging.string() + " could not be created: it already exists.");
  EXPECT_TRUE(fs::is_empty(staging));
}

}  // namespace
}  // namespace zephro::update
