#include "platform/update/AppcastError.h"

namespace zephro::update {

AppcastError::AppcastError(const std::string& reason, std::size_t line, std::size_t column)
    : std::runtime_error("The update feed could not be parsed: " + reason + " (line " +
                         std::to_string(line) + ", column " + std::to_string(column) + ")."),
      line_(line),
      column_(column) {}

AppcastError::AppcastError(const std::string& message) : std::runtime_error(message) {}

}  // namespace zephro::update
