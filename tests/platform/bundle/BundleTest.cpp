#include <gtest/gtest.h>

#include <fstream>

#include "platform/bundle/Bundle.h"
#include "platform/bundle/StringsTable.h"
#include "tests/support/TempDir.h"

namespace zephro::bundle {
namespace {

namespace fs = std::filesystem;

using Entries = StringsTable::Entries;
using Error = std::optional<StringsParseError>;

// The text's UTF-16 code units behind a byte-order mark, in either byte order.
std::string utf16WithBom(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (const char16_t unit : u"\uFEFF" + text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

TEST(StringsTableTest, ReadsEntriesEscapesAndComments) {
  const StringsTable table = StringsTable::parse(R"(/* Header comment,
   over two lines with "quotes" = and ; inside */
"quote" = "She said \"hi\"";   // trailing comment
"controls" = "a\nb\tc\rd";
"pair" = "\UD83D\UDE00";
"lone surrogate" = "x\UD83Dy";
"octal" = "\101\102";
"unknown escape" = "\q";
unquoted_key.1 = bare-value;
"shorthand";)");

  EXPECT_EQ(table.error(), Error{});
  const Entries expected{
      {"quote", "She said \"hi\""},
      {"controls", "a\nb\tc\rd"},
      {"pair", "😀"},
      {"lone surrogate", "x\uFFFDy"},
      {"octal", "AB"},
      {"unknown escape", "q"},
      {"unquoted_key.1", "bare-value"},
      {"shorthand", "shorthand"},
  };
  EXPECT_EQ(table.entries(), expected);
}

TEST(StringsTableTest, DecodesUtf8AndUtf16WithByteOrderMarksAndReplacesInvalidBytes) {
  const std::u16string source = u"/* \u00fc */\n\"key\" = \"L\u00fcfter \U0001F300 \\U00e9\";\n";
  const std::string utf8 = "/* \u00fc */\n\"key\" = \"L\u00fcfter \U0001F300 \\U00e9\";\n";
  for (const std::string& bytes :
       {"\xEF\xBB\xBF" + utf8, utf16WithBom(source, false), utf16WithBom(source, true)}) {
    const StringsTable table = StringsTable::parse(bytes);
    EXPECT_EQ(std::pair(table.entries(), table.error()),
              std::pair(Entries{{"key", "L\u00fcfter \U0001F300 \u00e9"}}, Error{}));
  }

  // An odd trailing byte of UTF-16 is not a character; it must not be read past.
  const StringsTable odd = StringsTable::parse(utf16WithBom(uR"("a" = "b";)", false) + "A");
  EXPECT_EQ(odd.entries(), (Entries{{"a", "b"}}));
  EXPECT_NE(odd.error(), Error{});

  // A stray continuation byte, an overlong slash, an encoded surrogate and a truncated tail.
  EXPECT_EQ(StringsTable::parse("\"k\" = \"a\x80z \xC0\xAF \xED\xA0\x80 \xE6\x97\";").entries(),
            (Entries{{"k", "a\uFFFDz \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD"}}));
}

TEST(StringsTableTest, MalformedInputKeepsWhatWasReadAndSaysWhereAndUnreadableFilesSayWhich) {
  struct Case {
    std::string input;
    std::size_t line;
    const char* message;
    Entries kept;
  };
  const Entries ok{{"ok", "yes"}};
  const Case cases[] = {
      {"\"ok\" = \"yes\";\n\"a\" = \"b\"\n\"c\" = \"d\";", 3, "expected ';' after the value", ok},
      {"\"ok\" = \"yes\";\n\"a\" \"b\";", 2, "expected '=' after the key", ok},
      {"\"ok\" = \"yes\";\n\"a\" = ;", 2, "expected a value after '='", ok},
      {"\"ok\" = \"yes\";\n\n\"a\" = \"never closed;\n", 3, "unterminated quoted string", ok},
      {"\"ok\" = \"yes\";\n/* never closed", 2, "unterminated comment", ok},
      {std::string("\"ok\" = \"yes\";\n\0", 15), 2, "expected a key", ok},
  };
  for (const Case& c : cases) {
    const StringsTable table = StringsTable::parse(c.input);
    EXPECT_EQ(std::pair(table.entries(), table.error()),
              std::pair(c.kept, Error(StringsParseError{c.line, c.message})))
        << c.input;
  }
  for (const std::string& empty : {std::string("  // only a comment\n"), std::string("\xFF\xFE")}) {
    const StringsTable table = StringsTable::parse(empty);
    EXPECT_EQ(std::pair(table.entries(), table.error()), std::pair(Entries{}, Error{}));
  }
  // Readable files are loaded by the bundle's tests below.
  const testing::TempDir dir;
  const StringsTable missing = StringsTable::load(dir.path());
  EXPECT_EQ(std::pair(missing.entries(), missing.error()->message),
            std::pair(Entries{}, "cannot read " + dir.path().string()));
}

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

TEST_F(BundleTest, ResourceRootPicksTheSystemsChoiceAmongItsLocalizations) {
  EXPECT_EQ(Bundle(dir.path()).localizations(),
            (std::vector<std::string>{"de", "en", "fil", "zh-Hans"}));

  struct Case {
    std::vector<std::string> preferred;
    std::string localization;
  };
  const std::vector<Case> cases{
      {{"de_AT"}, "de"},            // the operating system's spelling
      {{"ZH-hans-CN"}, "zh-Hans"},  // subtags are dropped until one fits; case is ignored
      {{"zh-Hant-TW"}, "en"},       // no Traditional Chinese: the development language
  };
  for (const Case& c : cases) {
    const Bundle main(dir.path(), c.preferred);
    EXPECT_EQ(main.preferredLocalization(), c.localization)
        << ::testing::PrintToString(c.preferred);
  }

  // No fallback to another table: a key the preferred one lacks answers itself.
  const Bundle german(dir.path(), {"de-CH"});
  EXPECT_EQ(german.localizedString("popover_about", "popover_about"), "Über Zephro");
  EXPECT_EQ(german.localizedString("only_en", "only_en"), "only_en");

  // Without the development language the first localization answers.
  fs::remove_all(dir / "en.lproj");
  EXPECT_EQ(Bundle(dir.path(), {"ja"}).preferredLocalization(), "de");
}

TEST_F(BundleTest, AnLprojFolderOrTheResourceRootAnswersFromItsTablesAndPathsStayInside) {
  const auto fil = Bundle::atPath(dir / "fil.lproj");
  ASSERT_TRUE(fil.has_value());
  EXPECT_EQ(fil->localizedString("popover_about"), "Tungkol sa Zephro");
  EXPECT_EQ(fil->localizedString("symbol_clear", "", "Symbols"), "Alisin");
  EXPECT_EQ(fil->localizedString("missing_key"), "missing_key");
  EXPECT_EQ(fil->localizedString("missing_key", "Fallback"), "Fallback");
  EXPECT_EQ(fil->localizedString("popover_about", "", "NoSuchTable"), "popover_about");
  EXPECT_FALSE(Bundle::atPath(dir / "fake.lproj").has_value());

  // A named lproj folder is looked in alone, and no name may climb out.
  const Bundle main(dir.path(), {"fil"});
  const auto symbols = dir / "fil.lproj" / "Symbols.strings";
  EXPECT_EQ(main.pathForResource("fil", "lproj"), dir / "fil.lproj");
  EXPECT_EQ(main.pathForResource("Symbols", "strings"), symbols);
  EXPECT_EQ(main.pathForResource("Symbols", "strings", "fil.lproj"), symbols);
  for (const auto& [name, type, folder] : std::initializer_list<std::array<std::string, 3>>{
           {"..", "", ""},
           {"../fil", "lproj", ""},
           {"Symbols", "strings", "de.lproj"},
           {"fil", "lproj", "."},
           {"Symbols", "strings", "../" + dir.path().filename().string()}}) {
    EXPECT_EQ(folder.empty() ? main.pathForResource(name, type)
                             : main.pathForResource(name, type, folder),
              std::nullopt)
        << name << "." << type << " in " << folder;
  }

  const Bundle nowhere(dir / "nowhere", {"de"});
  EXPECT_EQ(nowhere.preferredLocalization(), std::nullopt);
  EXPECT_EQ(nowhere.localizations(), std::vector<std::string>{});
  EXPECT_EQ(nowhere.pathForResource("de", "lproj"), std::nullopt);
  EXPECT_EQ(nowhere.localizedString("popover_about", "popover_about"), "popover_about");
}

}  // namespace
}  // namespace zephro::bundle
