#pragma once

#include <QString>
#include <array>
#include <optional>

namespace zephro {

// What a preset's value means. The raw values are also the stored form.
enum class PresetMode {
  rpm,         // one target speed in RPM for every fan
  percentage,  // one percentage (25 to 100) of each fan's own speed range
};

inline constexpr std::array allPresetModes{PresetMode::rpm, PresetMode::percentage};

[[nodiscard]] QString rawValue(PresetMode mode);
// No value for any text other than "rpm" and "percentage".
[[nodiscard]] std::optional<PresetMode> presetModeFromRaw(const QString& raw);

}  // namespace zephro
