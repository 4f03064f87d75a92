#include "platform/bundle/StringsTable.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zephro::bundle {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}
bool isHighSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

char32_t combineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

void appendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || isSurrogate(c)) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Invalid sequences (stray continuation bytes, overlong forms, encoded surrogates,
// truncated tails) each become one U+FFFD and decoding goes on with the next byte.
std::u32string decodeUtf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      out += lead;
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    bool valid = i + length <= bytes.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid || c < minimum || c > 0x10FFFF || isSurrogate(c)) {
      out += kReplacement;
      ++i;
      continue;
    }
    out += c;
    i += length;
  }
  return out;
}

std::u32string decodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u32string out;
  out.reserve(bytes.size() / 2);
  const auto unitAt = [&](std::size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8) | b : (b << 8) | a;
  };
  const std::size_t units = bytes.size() / 2;
  for (std::size_t u = 0; u < units; ++u) {
    const char32_t unit = unitAt(u * 2);
    if (isHighSurrogate(unit) && u + 1 < units && isLowSurrogate(unitAt((u + 1) * 2))) {
      out += combineSurrogates(unit, unitAt((u + 1) * 2));
      ++u;
    } else {
      out += isSurrogate(unit) ? kReplacement : unit;
    }
  }
  if (bytes.size() % 2 != 0) out += kReplacement;
  return out;
}

std::u32string decodeText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return decodeUtf8(bytes.substr(3));
  if (bytes.starts_with("\xFF\xFE")) return decodeUtf16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return decodeUtf16(bytes.substr(2), true);
  return decodeUtf8(bytes);
}

struct SyntaxError : std::runtime_error {
  SyntaxError(std::size_t position, const char* message)
      : std::runtime_error(message), position(position) {}
  std::size_t position;
};

bool isUnquotedChar(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

bool isSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0xFEFF ||
         c == 0x2028 || c == 0x2029;
}

int hexValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

class Parser {
 public:
  explicit Parser(std::u32string text) : text_(std::move(text)) {}

  // Reads entries until the end or the first syntax error.
  void run(StringsTable::Entries& entries) {
    while (true) {
      skipSpaceAndComments();
      if (atEnd()) return;
      std::string key = readString("expected a key");
      skipSpaceAndComments();
      // `"key";` is shorthand for a text that is its own key.
      if (consume(';')) {
        std::string value = key;
        entries.insert_or_assign(std::move(key), std::move(value));
        continue;
      }
      if (!consume('=')) throw SyntaxError(pos_, "expected '=' after the key");
      skipSpaceAndComments();
      std::string value = readString("expected a value after '='");
      skipSpaceAndComments();
      if (!consume(';')) throw SyntaxError(pos_, "expected ';' after the value");
      entries.insert_or_assign(std::move(key), std::move(value));
    }
  }

  [[nodiscard]] std::size_t lineAt(std::size_t position) const {
    const auto end = text_.begin() + static_cast<std::ptrdiff_t>(std::min(position, text_.size()));
    return 1 + static_cast<std::size_t>(std::count(text_.begin(), end, U'\n'));
  }

 private:
  [[nodiscard]] bool atEnd() const { return pos_ >= text_.size(); }
  [[nodiscard]] char32_t peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : 0;
  }
  bool consume(char32_t c) {
    if (atEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  void skipSpaceAndComments() {
    while (!atEnd()) {
      if (isSpace(peek())) {
        ++pos_;
      } else if (peek() == '/' && peek(1) == '*') {
        const std::size_t start = pos_;
        const std::size_t close = text_.find(U"*/", pos_ + 2);
        if (close == std::u32string::npos) throw SyntaxError(start, "unterminated comment");
        pos_ = close + 2;
      } else if (peek() == '/' && peek(1) == '/') {
        while (!atEnd() && peek() != '\n') ++pos_;
      } else {
        return;
      }
    }
  }

  std::string readString(const char* whatWasExpected) {
    if (consume('"')) return readQuoted();
    std::string out;
    while (!atEnd() && isUnquotedChar(peek())) appendUtf8(out, text_[pos_++]);
    if (out.empty()) throw SyntaxError(pos_, whatWasExpected);
    return out;
  }

  std::string readQuoted() {
    const std::size_t start = pos_ - 1;
    std::string out;
    while (true) {
      if (atEnd()) throw SyntaxError(start, "unterminated quoted string");
      const char32_t c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        appendUtf8(out, c);
        continue;
      }
      if (atEnd()) throw SyntaxError(start, "unterminated quoted string");
      appendUtf8(out, readEscape());
    }
  }

  // The character after a backslash has not been consumed yet.
  char32_t readEscape() {
    const char32_t c = text_[pos_++];
    switch (c) {
      case 'n':
        return '\n';
      case 't':
        return '\t';
      case 'r':
        return '\r';
      case 'a':
        return '\a';
      case 'b':
        return '\b';
      case 'f':
        return '\f';
      case 'v':
        return '\v';
      case 'U':
      case 'u':
        return readUnicodeEscape(c);
      default:
        break;
    }
    if (c >= '0' && c <= '7') {
      char32_t value = c - '0';
      for (int digits = 1; digits < 3 && peek() >= '0' && peek() <= '7'; ++digits) {
        value = value * 8 + (text_[pos_++] - '0');
      }
      return value;
    }
    return c;  // \" \\ \' and any other character stand for themselves
  }

  // \Uxxxx with up to four hex digits; a UTF-16 surrogate pair written as two escapes
  // becomes one character, a lone surrogate becomes U+FFFD.
  char32_t readUnicodeEscape(char32_t letter) {
    const auto readHex = [this]() -> std::optional<char32_t> {
      char32_t value = 0;
      int digits = 0;
      while (digits < 4 && hexValue(peek()) >= 0) {
        value = value * 16 + static_cast<char32_t>(hexValue(text_[pos_++]));
        ++digits;
      }
      if (digits == 0) return std::nullopt;
      return value;
    };
    const std::optional<char32_t> unit = readHex();
    if (!unit) return letter;
    if (!isSurrogate(*unit)) return *unit;
    if (isHighSurrogate(*unit) && peek() == '\\' && (peek(1) == 'U' || peek(1) == 'u')) {
      const std::size_t resume = pos_;
      pos_ += 2;
      const std::optional<char32_t> low = readHex();
      if (low && isLowSurrogate(*low)) return combineSurrogates(*unit, *low);
      pos_ = resume;
    }
    return kReplacement;
  }

  std::u32string text_;
  std::size_t pos_ = 0;
};

}  // namespace

StringsTable StringsTable::parse(std::string_view bytes) {
  StringsTable table;
  Parser parser(decodeText(bytes));
  try {
    parser.run(table.entries_);
  } catch (const SyntaxError& error) {
    table.error_ = StringsParseError{parser.lineAt(error.position), error.what()};
  }
  return table;
}

StringsTable StringsTable::load(const std::filesystem::path& file) {
  std::error_code ignored;
  std::ifstream in;
  if (std::filesystem::is_regular_file(file, ignored)) in.open(file, std::ios::binary);
  if (!in.is_open()) {
    StringsTable table;
    table.error_ = StringsParseError{0, "cannot read " + file.string()};
    return table;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse(bytes);
}

const std::string* StringsTable::find(std::string_view key) const {
  const auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

}  // namespace zephro::bundle
