#include "platform/update/ArchiveExtractor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestArchive.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveFormat;
using testing::readBytes;
using testing::readFile;
using testing::TestEntry;
using Type = TestEntry::Type;

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
      testing::writeText(archive, std::string(4096, '\x5a'));
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

}  // namespace
}  // namespace zephro::update
