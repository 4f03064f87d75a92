#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/presets/Preset.h"
#include "protocol/FanInfoDTO.h"

namespace zephro {

// The manual-mode percentage of every fan, in fan order, that applying the preset
// sends. A percentage preset gives its value to every fan unchanged; an RPM preset
// gives each fan the nearest whole percentage of its own range (halves away from
// zero), limited to 25 to 100, and 25 to a fan without a usable range. No fans, no
// percentages.
[[nodiscard]] std::vector<std::int64_t> presetPercentages(const Preset& preset,
                                                          std::span<const FanInfoDTO> fans);

}  // namespace zephro
