#include "platform/bundle/StringsTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

namespace zephro::bundle {
namespace {

using Entries = StringsTable::Entries;

// UTF-16 of a UTF-8 text (valid input only), with a byte-order mark.
std::string utf16WithBom(const std::string& utf8, bool bigEndian) {
  std::u32string codePoints;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    codePoints += c;
    i += static_cast<std::size_t>(length);
  }
  std::string out;
  const auto put = [&](char16_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  put(0xFEFF);
  for (const char32_t c : codePoints) {
    if (c < 0x10000) {
      put(static_cast<char16_t>(c));
    } else {
      put(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      put(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

TEST(StringsTableTest, ReadsEntriesEscapesAndComments) {
  const StringsTable table = StringsTable::parse(R"(/* Header comment,
   over two lines with "quotes" = and ; inside */
"quote" = "She said \"hi\"";   // trailing comment
"backslash" = "C:\\fans\\";
"controls" = "a\nb\tc\rd";
"apostrophe" = "it\'s";
"unicode" = "caf\U00e9 \u00FC";
"pair" = "\UD83D\UDE00";
"lone surrogate" = "x\UD83Dy";
"octal" = "\101\102";
"unknown escape" = "\q";
"U without digits" = "\Uzz";
unquoted_key.1 = bare-value;
"shorthand";
"multi
line" = "first
second";
"utf8" = "Lüfter 日本語 🌀";
"empty" = "";
"dup" = "first";
"dup" = "second";
"popover_fan_index"="Fan %ld";)");

  EXPECT_FALSE(table.error().has_value()) << table.error()->message;
  const Entries expected{
      {"quote", "She said \"hi\""},
      {"backslash", "C:\\fans\\"},
      {"controls", "a\nb\tc\rd"},
      {"apostrophe", "it's"},
      {"unicode", "café ü"},
      {"pair", "😀"},
      {"lone surrogate", "x\uFFFDy"},
      {"octal", "AB"},
      {"unknown escape", "q"},
      {"U without digits", "Uzz"},
      {"unquoted_key.1", "bare-value"},
      {"shorthand", "shorthand"},
      {"multi\nline", "first\nsecond"},
      {"utf8", "Lüfter 日本語 🌀"},
      {"empty", ""},
      {"dup", "second"},
      {"popover_fan_index", "Fan %ld"},
  };
  EXPECT_EQ(table.entries(), expected);
  ASSERT_NE(table.find("dup"), nullptr);
  EXPECT_EQ(*table.find("dup"), "second");
  EXPECT_EQ(table.find("missing"), nullptr);
}

TEST(StringsTableTest, DecodesUtf8AndUtf16WithByteOrderMarks) {
  const std::string source = "/* ü */\n\"key\" = \"Lüfter 🌀 \\U00e9\";\n\"日本\" = \"語\";\n";
  const Entries expected{{"key", "Lüfter 🌀 é"}, {"日本", "語"}};

  for (const std::string& bytes :
       {source, "\xEF\xBB\xBF" + source, utf16WithBom(source, false), utf16WithBom(source, true)}) {
    const StringsTable table = StringsTable::parse(bytes);
    EXPECT_FALSE(table.error().has_value());
    EXPECT_EQ(table.entries(), expected);
  }

  // An odd trailing byte of UTF-16 is not a character; it must not be read past.
  const StringsTable odd = StringsTable::parse(utf16WithBom("\"a\" = \"b\";", false) + "\x41");
  EXPECT_EQ(odd.entries(), (Entries{{"a", "b"}}));
  ASSERT_TRUE(odd.error().has_value());
}

TEST(StringsTableTest, InvalidUtf8BecomesReplacementCharacters) {
  // A stray continuation byte, an overlong slash, an encoded surrogate and a truncated tail.
  const StringsTable table =
      StringsTable::parse("\"k\" = \"a\x80z \xC0\xAF \xED\xA0\x80 \xE6\x97\";");
  EXPECT_FALSE(table.error().has_value());
  ASSERT_NE(table.find("k"), nullptr);
  EXPECT_EQ(*table.find("k"), "a\uFFFDz \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD");
}

TEST(StringsTableTest, MalformedInputKeepsWhatWasReadAndSaysWhere) {
  struct Case {
    std::string input;
    StringsParseError error;
    Entries kept;
  };
  const Entries ok{{"ok", "yes"}};
  const std::vector<Case> cases{
      {"\"ok\" = \"yes\";\n\"a\" = \"b\"\n\"c\" = \"d\";", {3, "expected ';' after the value"}, ok},
      {"\"ok\" = \"yes\";\n\"a\" \"b\";", {2, "expected '=' after the key"}, ok},
      {"\"ok\" = \"yes\";\n\"a\" = ;", {2, "expected a value after '='"}, ok},
      {"\"ok\" = \"yes\";\n= \"b\";", {2, "expected a key"}, ok},
      {"\"ok\" = \"yes\";\n\n\"a\" = \"never closed;\n", {3, "unterminated quoted string"}, ok},
      {"\"ok\" = \"yes\";\n\"a\" = \"ends in a backslash\\", {2, "unterminated quoted string"}, ok},
      {"\"ok\" = \"yes\";\n/* never closed", {2, "unterminated comment"}, ok},
      {"\"ok\" = \"yes\";\n\"a\" = \"b\"", {2, "expected ';' after the value"}, ok},
      {"\"ok\" = \"yes\";\n{ \"a\" = \"b\"; }", {2, "expected a key"}, ok},
      {std::string("\"ok\" = \"yes\";\n\0", 15), {2, "expected a key"}, ok},
  };
  for (const Case& c : cases) {
    const StringsTable table = StringsTable::parse(c.input);
    ASSERT_TRUE(table.error().has_value()) << c.input;
    EXPECT_EQ(*table.error(), c.error) << c.input;
    EXPECT_EQ(table.entries(), c.kept) << c.input;
  }

  for (const std::string& empty : {std::string(), std::string("  // only a comment\n"),
                                   std::string("\xEF\xBB\xBF"), std::string("\xFF\xFE")}) {
    const StringsTable table = StringsTable::parse(empty);
    EXPECT_FALSE(table.error().has_value());
    EXPECT_TRUE(table.entries().empty());
  }
}

TEST(StringsTableTest, LoadsFilesAndReportsUnreadableOnes) {
  const testing::TempDir dir;
  {
    std::ofstream(dir / "Localizable.strings", std::ios::binary)
        << utf16WithBom("\"popover_about\" = \"Über Zephro\";", false);
  }
  const StringsTable table = StringsTable::load(dir / "Localizable.strings");
  EXPECT_EQ(table.entries(), (Entries{{"popover_about", "Über Zephro"}}));

  for (const auto& unreadable : {dir / "missing.strings", dir.path()}) {
    const StringsTable missing = StringsTable::load(unreadable);
    EXPECT_TRUE(missing.entries().empty());
    ASSERT_TRUE(missing.error().has_value());
    EXPECT_EQ(missing.error()->message, "cannot read " + unreadable.string());
  }
}

}  // namespace
}  // namespace zephro::bundle
