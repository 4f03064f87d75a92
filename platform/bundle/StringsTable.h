#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zephro::bundle {

// Where parsing of a table stopped and why.
struct StringsParseError {
  std::size_t line = 0;  // 1-based
  std::string message;

  bool operator==(const StringsParseError&) const = default;
};

// The entries of one `.strings` table ("key" = "value";), keys and values in UTF-8.
class StringsTable {
 public:
  using Entries = std::map<std::string, std::string, std::less<>>;

  StringsTable() = default;

  // Parses the bytes of a table: UTF-8 (with or without a byte-order mark) or UTF-16 LE/BE
  // with a byte-order mark. Never throws on bad input: the entries read before the first
  // syntax error are kept, so one typo in a translation does not blank the whole interface,
  // and error() tells where reading stopped. A later duplicate key replaces an earlier one.
  [[nodiscard]] static StringsTable parse(std::string_view bytes);

  // Reads and parses a file. A file that cannot be read gives an empty table with an error.
  [[nodiscard]] static StringsTable load(const std::filesystem::path& file);

  // The value for a key, or nullptr.
  [[nodiscard]] const std::string* find(std::string_view key) const;
  [[nodiscard]] const Entries& entries() const { return entries_; }
  [[nodiscard]] const std::optional<StringsParseError>& error() const { return error_; }

 private:
  Entries entries_;
  std::optional<StringsParseError> error_;
};

}  // namespace zephro::bundle
