#include "app/presets/PresetRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zephro {
namespace {

// Truncates towards zero, saturating at the ends of the 64-bit range.
std::int64_t truncated(double speed) {
  if (speed >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (speed < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(speed);
}

}  // namespace

ValueBounds rpmBounds(std::span<const FanInfoDTO> fans) {
  std::optional<double> lowest;
  std::optional<double> highest;
  for (const FanInfoDTO& fan : fans) {
    if (std::isfinite(fan.minRPM())) lowest = std::min(lowest.value_or(fan.minRPM()), fan.minRPM());
    if (std::isfinite(fan.maxRPM())) {
      highest = std::max(highest.value_or(fan.maxRPM()), fan.maxRPM());
    }
  }
  if (fans.empty()) return {0, 6000};
  const std::int64_t low = lowest ? truncated(*lowest) : 0;
  const std::int64_t high = highest ? truncated(*highest) : 6000;
  return {low, std::max(low, high)};
}

ValueBounds valueBounds(PresetMode mode, std::span<const FanInfoDTO> fans) {
  if (mode == PresetMode::percentage) return {kMinimumPresetPercentage, kMaximumPresetPercentage};
  return rpmBounds(fans);
}

QString trimmedPresetName(const QString& name) {
  return name.trimmed();
}

std::optional<QString> validateName(const QString& name) {
  const QString trimmed = trimmedPresetName(name);
  if (trimmed.isEmpty()) return QStringLiteral("Name cannot be empty.");
  if (characterCount(trimmed) > kMaximumPresetNameLength) {
    return QStringLiteral("Name must be 30 characters or fewer.");
  }
  return std::nullopt;
}

std::optional<QString> validatePreset(const QString& name, PresetMode mode, std::int64_t value,
                                      ValueBounds rpm) {
  if (auto message = validateName(name)) return message;
  if (mode == PresetMode::percentage) {
    if (value < kMinimumPresetPercentage || value > kMaximumPresetPercentage) {
      return QStringLiteral("Percentage must be between 25% and 100%.");
    }
    return std::nullopt;
  }
  if (value < rpm.low || value > rpm.high) {
    return QStringLiteral("RPM must be between %1 and %2.").arg(rpm.low).arg(rpm.high);
  }
  return std::nullopt;
}

}  // namespace zephro
