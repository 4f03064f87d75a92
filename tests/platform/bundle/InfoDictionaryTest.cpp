#include "platform/bundle/InfoDictionary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/bundle/Bundle.h"
#include "tests/support/TempDir.h"

namespace zephro::bundle {
namespace {

namespace fs = std::filesystem;

TEST(InfoDictionaryTest, KeysReadOnlyWithTheirOwnType) {
  const auto info = InfoDictionary::parse(
      R"({"CFBundleVersion": "12", "SUEnableAutomaticChecks": true,
          "SUScheduledCheckInterval": 3600, "SUFeedURL": "", "list": [1], "none": null})");
  EXPECT_EQ(info.string("CFBundleVersion"), "12");
  EXPECT_EQ(info.string("SUFeedURL"), "");
  EXPECT_EQ(info.boolean("SUEnableAutomaticChecks"), true);
  EXPECT_EQ(info.number("SUScheduledCheckInterval"), 3600.0);
  EXPECT_EQ(info.number("CFBundleVersion"), std::nullopt);
  EXPECT_EQ(info.string("SUEnableAutomaticChecks"), std::nullopt);
  EXPECT_EQ(info.string("missing"), std::nullopt);
  EXPECT_FALSE(info.contains("list"));
  EXPECT_FALSE(info.contains("none"));

  for (const char* broken : {"", "[1, 2]", "\"text\"", R"({"CFBundleVersion": "12")", "\xff"}) {
    EXPECT_TRUE(InfoDictionary::parse(broken).empty()) << broken;
  }
}

TEST(InfoDictionaryTest, TheEnvironmentNamesTheApplicationsDictionary) {
  const testing::TempDir dir;
  std::ofstream(dir / "Info.json") << R"({"CFBundleVersion": "99"})";
  ::setenv("ZEPHRO_BUNDLE_INFO", (dir / "Info.json").c_str(), 1);
  EXPECT_EQ(Bundle::info().string("CFBundleVersion"), "99");
  ::setenv("ZEPHRO_BUNDLE_INFO", (dir / "missing.json").c_str(), 1);
  EXPECT_TRUE(Bundle::info().empty());
  ::unsetenv("ZEPHRO_BUNDLE_INFO");
  // Without it, the dictionary the build generated.
  EXPECT_TRUE(Bundle::info().string("CFBundleVersion").has_value());
}

TEST(InfoDictionaryTest, InfoFileIsTheFirstCandidateThatHasOne) {
  const testing::TempDir dir;
  fs::create_directories(dir / "empty");
  fs::create_directories(dir / "a" / "Info.json");  // a folder, not the file
  fs::create_directories(dir / "b");
  std::ofstream(dir / "b" / "Info.json") << "{}";
  std::ofstream(dir / "Info.json") << "{}";
  EXPECT_EQ(Bundle::findInfoFile({dir / "empty", dir / "a", dir / "b", dir.path()}),
            dir / "b" / "Info.json");
  EXPECT_EQ(Bundle::findInfoFile({dir / "empty"}), std::nullopt);

  // The build tree's generated resources stand where the source tree's are.
  const auto candidates = Bundle::infoFileCandidates();
  EXPECT_NE(std::find(candidates.begin(), candidates.end(), testing::binaryPath("app/resources")),
            candidates.end());
}

}  // namespace
}  // namespace zephro::bundle
