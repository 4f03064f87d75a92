#pragma once

#include <span>
#include <vector>

#include "protocol/FanInfoDTO.h"

namespace zephro {

// The lowest percentage a fan is ever shown or stepped to.
inline constexpr int kMinimumFanPercentage = 25;
inline constexpr int kMaximumFanPercentage = 100;

// Where a fan runs within its own speed range, in whole percent (halves away from
// zero), never below 25; 25 for a fan without a usable range. There is no upper
// limit: a fan running above its maximum shows more than 100.
[[nodiscard]] int fanPercentage(const FanInfoDTO& fan);

// fanPercentage of every fan, in fan order.
[[nodiscard]] std::vector<int> fanPercentages(std::span<const FanInfoDTO> fans);

// Every fan's current percentage moved by step and held within 25 to 100.
[[nodiscard]] std::vector<int> steppedPercentages(std::span<const FanInfoDTO> fans, int step);

}  // namespace zephro
