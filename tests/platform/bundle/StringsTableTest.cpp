#include "platform/bundle/StringsTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

namespace zephro::bundle {
namespace {

using Entries = StringsTable::Entries;

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
"backslash" = "C:\\fans\\";
"controls" = "a\nb\tc\rd";
"unicode" = "caf\U00e9 \u00FC";
"pair" = "\UD83D\UDE00";
"lone surrogate" = "x\UD83Dy";
"octal" = "\101\102";
"unknown escape" = "\q";
unquoted_key.1 = bare-value;
"shorthand";
"multi
line" = "first
second";
"utf8" = "Lüfter 日本語 🌀";
"dup" = "first";
"dup"="second";)");

  EXPECT_FALSE(table.error().has_value()) << table.error()->message;
  const Entries expected{
      {"quote", "She said \"hi\""},
      {"backslash", "C:\\fans\\"},
      {"controls", "a\nb\tc\rd"},
      {"unicode", "café ü"},
      {"pair", "😀"},
      {"lone surrogate", "x\uFFFDy"},
      {"octal", "AB"},
      {"unknown escape", "q"},
      {"unquoted_key.1", "bare-value"},
      {"shorthand", "shorthand"},
      {"multi\nline", "first\nsecond"},
      {"utf8", "Lüfter 日本語 🌀"},
      {"dup", "second"},
  };
  EXPECT_EQ(table.entries(), expected);
  EXPECT_EQ(table.find("missing"), nullptr);
}

TEST(StringsTableTest, DecodesUtf8AndUtf16WithByteOrderMarksAndReplacesInvalidBytes) {
  const std::u16string source = u"/* \u00fc */\n\"key\" = \"L\u00fcfter \U0001F300 \\U00e9\";\n";
  const std::string utf8 = "/* \u00fc */\n\"key\" = \"L\u00fcfter \U0001F300 \\U00e9\";\n";
  for (const std::string& bytes :
       {"\xEF\xBB\xBF" + utf8, utf16WithBom(source, false), utf16WithBom(source, true)}) {
    const StringsTable table = StringsTable::parse(bytes);
    EXPECT_FALSE(table.error().has_value());
    EXPECT_EQ(table.entries(), (Entries{{"key", "L\u00fcfter \U0001F300 \u00e9"}}));
  }

  // An odd trailing byte of UTF-16 is not a character; it must not be read past.
  const StringsTable odd = StringsTable::parse(utf16WithBom(uR"("a" = "b";)", false) + "A");
  EXPECT_EQ(odd.entries(), (Entries{{"a", "b"}}));
  ASSERT_TRUE(odd.error().has_value());

  // A stray continuation byte, an overlong slash, an encoded surrogate and a truncated tail.
  const StringsTable invalid =
      StringsTable::parse("\"k\" = \"a\x80z \xC0\xAF \xED\xA0\x80 \xE6\x97\";");
  EXPECT_EQ(invalid.entries(),
            (Entries{{"k", "a\uFFFDz \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD"}}));
}

TEST(StringsTableTest, MalformedInputKeepsWhatWasReadAndSaysWhere) {
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
    ASSERT_TRUE(table.error().has_value()) << c.input;
    EXPECT_EQ(*table.error(), (StringsParseError{c.line, c.message})) << c.input;
    EXPECT_EQ(table.entries(), c.kept) << c.input;
  }

  for (const std::string& empty : {std::string("  // only a comment\n"), std::string("\xFF\xFE")}) {
    const StringsTable table = StringsTable::parse(empty);
    EXPECT_FALSE(table.error().has_value());
    EXPECT_TRUE(table.entries().empty());
  }
}

TEST(StringsTableTest, LoadsFilesAndReportsUnreadableOnes) {
  const testing::TempDir dir;
  {
    std::ofstream(dir / "Localizable.strings", std::ios::binary)
        << utf16WithBom(u"\"popover_about\" = \"\u00dcber Zephro\";", false);
  }
  const StringsTable table = StringsTable::load(dir / "Localizable.strings");
  EXPECT_EQ(table.entries(), (Entries{{"popover_about", "\u00dcber Zephro"}}));

  for (const auto& unreadable : {dir / "missing.strings", dir.path()}) {
    const StringsTable missing = StringsTable::load(unreadable);
    EXPECT_TRUE(missing.entries().empty());
    ASSERT_TRUE(missing.error().has_value());
    EXPECT_EQ(missing.error()->message, "cannot read " + unreadable.string());
  }
}

}  // namespace
}  // namespace zephro::bundle
