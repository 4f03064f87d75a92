#pragma once

#include <QString>
#include <span>

#include "protocol/FanInfoDTO.h"

namespace zephro {

// Degrees in the unit the user reads.
[[nodiscard]] double shownDegrees(double celsius, bool fahrenheit);

// The temperature as the status item writes it: whole degrees, halves away from zero,
// in Celsius or converted to Fahrenheit ("52°C", "68°F").
[[nodiscard]] QString temperatureText(double celsius, bool fahrenheit);

// The highest current speed over all fans with the fraction dropped; 0 without fans.
[[nodiscard]] long long highestFanSpeed(std::span<const FanInfoDTO> fans);

// "2200 RPM".
[[nodiscard]] QString fanSpeedText(long long rpm);

}  // namespace zephro
