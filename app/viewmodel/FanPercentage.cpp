#include "app/viewmodel/FanPercentage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace zephro {

int fanPercentage(const FanInfoDTO& fan) {
  if (!(fan.maxRPM() > fan.minRPM())) return kMinimumFanPercentage;
  const double percent =
      std::round((fan.currentRPM() - fan.minRPM()) / (fan.maxRPM() - fan.minRPM()) * 100.0);
  // A reading that is no number (or a range so narrow it overflows) must not turn into
  // an undefined integer conversion.
  if (std::isnan(percent)) return kMinimumFanPercentage;
  const double highest = std::numeric_limits<int>::max();
  return static_cast<int>(std::clamp(percent, double{kMinimumFanPercentage}, highest));
}

std::vector<int> fanPercentages(std::span<const FanInfoDTO> fans) {
  std::vector<int> percentages;
  percentages.reserve(fans.size());
  for (const auto& fan : fans) percentages.push_back(fanPercentage(fan));
  return percentages;
}

std::vector<int> steppedPercentages(std::span<const FanInfoDTO> fans, int step) {
  std::vector<int> percentages;
  percentages.reserve(fans.size());
  for (const auto& fan : fans) {
    const std::int64_t moved = std::int64_t{fanPercentage(fan)} + step;
    percentages.push_back(static_cast<int>(
        std::clamp<std::int64_t>(moved, kMinimumFanPercentage, kMaximumFanPercentage)));
  }
  return percentages;
}

}  // namespace zephro
