#include "app/presets/PresetPercentages.h"

#include <algorithm>
#include <cmath>

#include "app/presets/PresetRules.h"

namespace zephro {
namespace {

std::int64_t percentageOfRange(double rpm, const FanInfoDTO& fan) {
  const double range = fan.maxRPM() - fan.minRPM();
  // A NaN or infinite speed would make the cast below undefined, so it counts as no range.
  if (!(range > 0) || !std::isfinite(range) || !std::isfinite(fan.minRPM())) {
    return kMinimumPresetPercentage;
  }
  const double percentage = std::round((rpm - fan.minRPM()) / range * 100.0);
  return static_cast<std::int64_t>(
      std::clamp(percentage, double(kMinimumPresetPercentage), double(kMaximumPresetPercentage)));
}

}  // namespace

std::vector<std::int64_t> presetPercentages(const Preset& preset,
                                            std::span<const FanInfoDTO> fans) {
  std::vector<std::int64_t> percentages;
  percentages.reserve(fans.size());
  for (const FanInfoDTO& fan : fans) {
    percentages.push_back(preset.mode == PresetMode::percentage
                              ? preset.value
                              : percentageOfRange(static_cast<double>(preset.value), fan));
  }
  return percentages;
}

}  // namespace zephro
