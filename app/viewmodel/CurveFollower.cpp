#include "app/viewmodel/CurveFollower.h"

#include <cmath>

namespace zephro {

std::optional<int> CurveFollower::next(double celsius) {
  const int target = static_cast<int>(std::lround(curvePercentage(points_, celsius)));
  const bool changes = !level_ || target >= *level_ + kRisingStep ||
                       (target < *level_ && celsius <= setAt_ - kFallingMargin);
  if (!changes) return std::nullopt;
  level_ = target;
  setAt_ = celsius;
  return target;
}

}  // namespace zephro
