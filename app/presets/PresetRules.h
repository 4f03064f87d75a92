#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

#include "app/presets/PresetMode.h"
#include "app/text/UserCharacters.h"
#include "protocol/FanInfoDTO.h"

namespace zephro {

inline constexpr std::int64_t kMinimumPresetPercentage = 25;
inline constexpr std::int64_t kMaximumPresetPercentage = 100;
inline constexpr qsizetype kMaximumPresetNameLength = 30;

// The allowed range of a preset value, both ends included.
struct ValueBounds {
  std::int64_t low = 0;
  std::int64_t high = 0;
  friend bool operator==(const ValueBounds&, const ValueBounds&) = default;
};

// low = the smallest minimum speed of the fans, high = the largest maximum (never
// below low), both truncated; 0 and 6000 without fans. A speed that is not a
// finite number takes no part.
[[nodiscard]] ValueBounds rpmBounds(std::span<const FanInfoDTO> fans);
// The RPM bounds for mode rpm, 25 to 100 for mode percentage.
[[nodiscard]] ValueBounds valueBounds(PresetMode mode, std::span<const FanInfoDTO> fans);

// The name trimmed of white space and line breaks at both ends, as it is stored.
[[nodiscard]] QString trimmedPresetName(const QString& name);

// The message for an unacceptable name, or none.
[[nodiscard]] std::optional<QString> validateName(const QString& name);
// The first failing rule for a preset about to be added or updated: the name rules
// first, then the value against the bounds of its mode.
[[nodiscard]] std::optional<QString> validatePreset(const QString& name, PresetMode mode,
                                                    std::int64_t value, ValueBounds rpm);

}  // namespace zephro
