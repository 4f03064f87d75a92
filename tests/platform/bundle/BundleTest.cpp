#include "platform/bundle/Bundle.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/TempDir.h"

namespace zephro::bundle {
namespace {

namespace fs = std::filesystem;

void writeTable(const fs::path& folder, const std::string& text,
                const std::string& name = "Localizable.strings") {
  fs::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary) << text;
}

// A resource folder like the application's, with three languages.
class BundleTest : public ::testing::Test {
 protected:
  BundleTest() {
    writeTable(dir / "en.lproj",
               "\"popover_about\" = \"About Zephro\";\n\"only_en\" = \"English\";");
    writeTable(dir / "de.lproj", R"("popover_about" = "Über Zephro";)");
    writeTable(dir / "zh-Hans.lproj", R"("popover_about" = "关于 Zephro";)");
    writeTable(dir / "fil.lproj", R"("popover_about" = "Tungkol sa Zephro";)");
    writeTable(dir / "fil.lproj", R"("symbol_clear" = "Alisin";)", "Symbols.strings");
    // Neither of these is a localization: a file named like one, and a folder without the name.
    writeTable(dir / "notes", "x");
    std::ofstream(dir / "fake.lproj") << "not a folder";
    fs::create_directories(dir / ".lproj");
  }

  testing::TempDir dir;
};

TEST_F(BundleTest, LprojFolderBundleAnswersFromItsTablesAndFallsBackToTheKey) {
  const auto fil = Bundle::atPath(dir / "fil.lproj");
  ASSERT_TRUE(fil.has_value());
  EXPECT_EQ(fil->localizedString("popover_about"), "Tungkol sa Zephro");
  EXPECT_EQ(fil->localizedString("symbol_clear", "", "Symbols"), "Alisin");
  EXPECT_EQ(fil->localizedString("missing_key"), "missing_key");
  EXPECT_EQ(fil->localizedString("missing_key", "Fallback"), "Fallback");
  EXPECT_EQ(fil->localizedString("popover_about", "", "NoSuchTable"), "popover_about");

  EXPECT_FALSE(Bundle::atPath(dir / "xx.lproj").has_value());
  EXPECT_FALSE(Bundle::atPath(dir / "fake.lproj").has_value());
}

TEST_F(BundleTest, ResourceRootPicksTheSystemsChoiceAmongItsLocalizations) {
  EXPECT_EQ(Bundle(dir.path()).localizations(),
            (std::vector<std::string>{"de", "en", "fil", "zh-Hans"}));

  struct Case {
    std::vector<std::string> preferred;
    std::string localization;
  };
  const std::vector<Case> cases{
      {{"pt-BR", "de-DE"}, "de"},
      {{"de_AT"}, "de"},            // the operating system's spelling
      {{"ZH-hans-CN"}, "zh-Hans"},  // subtags are dropped until one fits; case is ignored
      {{"zh-Hant-TW"}, "en"},       // no Traditional Chinese: the development language
  };
  for (const Case& c : cases) {
    const Bundle main(dir.path(), c.preferred);
    EXPECT_EQ(main.preferredLocalization(), c.localization)
        << ::testing::PrintToString(c.preferred);
  }

  const Bundle german(dir.path(), {"de-CH"});
  EXPECT_EQ(german.localizedString("popover_about", "popover_about"), "Über Zephro");
  EXPECT_EQ(german.localizedString("only_en", "only_en"), "only_en");

  // Without the development language the first localization answers.
  fs::remove_all(dir / "en.lproj");
  EXPECT_EQ(Bundle(dir.path(), {"ja"}).preferredLocalization(), "de");
}

TEST_F(BundleTest, MissingResourcesAnswerTheKey) {
  const testing::TempDir empty;
  for (const Bundle& bundle : {Bundle(empty.path(), {"de"}), Bundle(dir / "nowhere", {"de"})}) {
    EXPECT_EQ(bundle.preferredLocalization(), std::nullopt);
    EXPECT_TRUE(bundle.localizations().empty());
    EXPECT_EQ(bundle.pathForResource("de", "lproj"), std::nullopt);
    EXPECT_EQ(bundle.localizedString("popover_about", "popover_about"), "popover_about");
  }
}

TEST_F(BundleTest, PathForResourceStaysInsideTheBundle) {
  const Bundle main(dir.path(), {"fil"});
  EXPECT_EQ(main.pathForResource("fil", "lproj"), dir / "fil.lproj");
  // Localized resources are found in the preferred lproj folder.
  EXPECT_EQ(main.pathForResource("Symbols", "strings"), dir / "fil.lproj" / "Symbols.strings");
  EXPECT_EQ(main.pathForResource("ko", "lproj"), std::nullopt);
  EXPECT_EQ(main.pathForResource("..", ""), std::nullopt);
  EXPECT_EQ(main.pathForResource("../fil", "lproj"), std::nullopt);

  // A named folder is looked in alone, and neither name may climb out either.
  EXPECT_EQ(main.pathForResource("Symbols", "strings", "fil.lproj"),
            dir / "fil.lproj" / "Symbols.strings");
  EXPECT_EQ(main.pathForResource("Symbols", "strings", "de.lproj"), std::nullopt);
  EXPECT_EQ(main.pathForResource("fil", "lproj", "."), std::nullopt);
  EXPECT_EQ(main.pathForResource("Symbols", "strings", "../" + dir.path().filename().string()),
            std::nullopt);
}

TEST_F(BundleTest, ResourceRootIsTheFirstCandidateWithLocalizations) {
  const testing::TempDir other;
  writeTable(other / "ko.lproj", "");
  fs::create_directories(other / "no-lproj" / "icons");

  EXPECT_EQ(
      Bundle::findResourceRoot({dir / "missing", other / "no-lproj", dir.path(), other.path()}),
      dir.path());
  EXPECT_EQ(Bundle::findResourceRoot({other / "no-lproj"}), std::nullopt);

  // A development build finds the tables of its source tree when nothing is installed
  // next to it.
  const auto found = Bundle::findResourceRoot(Bundle::resourceRootCandidates());
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(fs::exists(*found / "en.lproj" / "Localizable.strings"));
}

}  // namespace
}  // namespace zephro::bundle
