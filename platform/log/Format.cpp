#include "platform/log/Format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zephro::format {
namespace {

// strerror_r comes in two flavours: the GNU one returns the text (which may or may not
// be the buffer), the XSI one fills the buffer and returns a status.
[[maybe_unused]] std::string strerrorResult(const char* text, const char* /*buffer*/,
                                            int /*error*/) {
  return text;
}

[[maybe_unused]] std::string strerrorResult(int status, const char* buffer, int error) {
  return status == 0 ? std::string(buffer) : "Unknown error " + std::to_string(error);
}

}  // namespace

std::string printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list sizing;
  va_copy(sizing, args);
  const int length = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(args);
  return text;
}

std::string shortestDouble(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string integerList(std::span<const std::int64_t> values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(values[i]);
  }
  text += "]";
  return text;
}

std::string errorText(int error) {
  std::array<char, 256> buffer{};
  return strerrorResult(strerror_r(error, buffer.data(), buffer.size()), buffer.data(), error);
}

}  // namespace zephro::format
