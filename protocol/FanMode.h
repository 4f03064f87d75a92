#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zephro {

// How a fan is driven. Crosses the socket as its raw integer.
enum class FanMode : std::int64_t {
  system = 0,  // the firmware controls the fans
  manual = 1,  // each fan at a percentage of its own speed range
  max = 2,     // every fan at its maximum speed
};

[[nodiscard]] constexpr std::int64_t rawValue(FanMode mode) {
  return static_cast<std::int64_t>(mode);
}

// The mode's name in log lines: "system", "manual", or "max" for every other raw value, as
// the helper treats them.
[[nodiscard]] constexpr const char* fanModeName(std::int64_t raw) {
  if (raw == rawValue(FanMode::system)) return "system";
  if (raw == rawValue(FanMode::manual)) return "manual";
  return "max";
}

// No value for a raw value outside 0 to 2.
[[nodiscard]] constexpr std::optional<FanMode> fanModeFromRaw(std::int64_t raw) {
  if (raw < 0 || raw > 2) return std::nullopt;
  return static_cast<FanMode>(raw);
}

}  // namespace zephro
