#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace zephro::update {

// A feed that cannot be read as an appcast. what() is the whole message, with the place
// ("The update feed could not be parsed: mismatched tag (line 4, column 3)."); line and
// column are 1-based, 0 when the fault has no place (an oversized feed).
class AppcastError : public std::runtime_error {
 public:
  AppcastError(const std::string& reason, std::size_t line, std::size_t column);
  explicit AppcastError(const std::string& message);

  [[nodiscard]] std::size_t line() const { return line_; }
  [[nodiscard]] std::size_t column() const { return column_; }

 private:
  std::size_t line_ = 0;
  std::size_t column_ = 0;
};

}  // namespace zephro::update
