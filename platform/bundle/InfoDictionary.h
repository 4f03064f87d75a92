#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zephro::bundle {

// The application's information dictionary (Info.json): a flat JSON object of strings,
// booleans and numbers. Readers ask for a key with the type they expect; a key that is
// missing, or holds another type, reads as absent, so a damaged file degrades to defaults
// instead of stopping the program.
class InfoDictionary {
 public:
  using Value = std::variant<std::string, bool, double>;

  InfoDictionary() = default;

  // Parses JSON text. Anything but a JSON object gives an empty dictionary; members that
  // are arrays, objects or null are left out.
  [[nodiscard]] static InfoDictionary parse(std::string_view json);
  // Reads a file; a missing, unreadable, oversized or broken file gives an empty dictionary.
  [[nodiscard]] static InfoDictionary load(const std::filesystem::path& file);

  [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
  [[nodiscard]] std::optional<bool> boolean(std::string_view key) const;
  [[nodiscard]] std::optional<double> number(std::string_view key) const;
  [[nodiscard]] bool contains(std::string_view key) const;
  [[nodiscard]] bool empty() const { return values_.empty(); }

  friend bool operator==(const InfoDictionary&, const InfoDictionary&) = default;

 private:
  std::map<std::string, Value, std::less<>> values_;
};

}  // namespace zephro::bundle
