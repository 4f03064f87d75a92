#pragma once

#include <optional>
#include <vector>

#include "app/presets/FanCurve.h"

namespace zephro {

// When a curve's fan level changes. It rises at once by 2 points or more; it falls only
// once the temperature is 3 °C below the one that set the current level, so a temperature
// wavering around a point does not set the fans hunting.
class CurveFollower {
 public:
  static constexpr int kRisingStep = 2;
  static constexpr double kFallingMargin = 3.0;

  // The points must make a curve.
  explicit CurveFollower(std::vector<CurvePoint> points) : points_(std::move(points)) {}

  [[nodiscard]] const std::vector<CurvePoint>& points() const { return points_; }

  // The level to send for this reading, or none while the current one stands.
  [[nodiscard]] std::optional<int> next(double celsius);
  // The next reading sets a level, whatever it is: the last one did not reach the fans.
  void forget() { level_.reset(); }

 private:
  std::vector<CurvePoint> points_;
  std::optional<int> level_;
  double setAt_ = 0;
};

}  // namespace zephro
