#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zephro::format {

// printf-style formatting into a std::string, for log lines written with C formats.
[[nodiscard]] std::string printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The shortest decimal text that reads back as the same double; whole values keep
// a ".0" (6500 → "6500.0", 0.1 → "0.1", NaN → "nan", infinity → "inf").
[[nodiscard]] std::string shortestDouble(double value);

// A bracketed integer list separated by ", ": [40, 60]; empty → [].
[[nodiscard]] std::string integerList(std::span<const std::int64_t> values);

// The system's text for an errno value ("No such file or directory"), the same as
// strerror gives but safe to call from any thread.
[[nodiscard]] std::string errorText(int error);

}  // namespace zephro::format
