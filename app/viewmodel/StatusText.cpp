#include "app/viewmodel/StatusText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zephro {

namespace {

// A reading far outside any real value is held at the integer range instead of
// overflowing the conversion.
long long wholeNumber(double value) {
  if (std::isnan(value)) return 0;
  constexpr auto lowest = static_cast<double>(std::numeric_limits<long long>::min());
  constexpr double highest = 9.2e18;
  return static_cast<long long>(std::clamp(value, lowest, highest));
}

}  // namespace

double shownDegrees(double celsius, bool fahrenheit) {
  return fahrenheit ? celsius * 9.0 / 5.0 + 32.0 : celsius;
}

QString temperatureText(double celsius, bool fahrenheit) {
  return QString::number(wholeNumber(std::round(shownDegrees(celsius, fahrenheit)))) +
         QStringLiteral("\u00b0") + (fahrenheit ? QStringLiteral("F") : QStringLiteral("C"));
}

long long highestFanSpeed(std::span<const FanInfoDTO> fans) {
  double highest = 0;
  for (const auto& fan : fans) highest = std::max(highest, fan.currentRPM());
  return wholeNumber(std::trunc(highest));
}

QString fanSpeedText(long long rpm) {
  return QString::number(rpm) + QStringLiteral(" RPM");
}

}  // namespace zephro
