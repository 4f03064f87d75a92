#include "app/presets/FanCurve.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>

#include "app/presets/Preset.h"

namespace zephro {

QString FanCurve::idText() const {
  return uuidText(id);
}

QVariantList FanCurve::pointList() const {
  QVariantList list;
  for (const auto& point : points) {
    list.append(QVariantMap{{QStringLiteral("celsius"), point.celsius},
                            {QStringLiteral("percent"), point.percent}});
  }
  return list;
}

std::optional<QString> curvePointsProblem(std::span<const CurvePoint> points) {
  if (points.size() < kMinimumCurvePoints || points.size() > kMaximumCurvePoints) {
    return QStringLiteral("a curve has 2 to 8 points, not %1").arg(points.size());
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto& point = points[i];
    if (!std::isfinite(point.celsius))
      return QStringLiteral("point %1 has no temperature").arg(i + 1);
    if (point.percent < 0 || point.percent > 100) {
      return QStringLiteral("point %1 is not within 0 to 100 %").arg(i + 1);
    }
    if (i == 0) continue;
    if (point.celsius <= points[i - 1].celsius) {
      return QStringLiteral("point %1 is not warmer than the one before").arg(i + 1);
    }
    if (point.percent < points[i - 1].percent) {
      return QStringLiteral("point %1 is slower than the one before").arg(i + 1);
    }
  }
  return std::nullopt;
}

double curvePercentage(std::span<const CurvePoint> points, double celsius) {
  if (celsius <= points.front().celsius) return points.front().percent;
  if (celsius >= points.back().celsius) return points.back().percent;
  const auto above = std::find_if(points.begin(), points.end(), [celsius](const CurvePoint& point) {
    return point.celsius > celsius;
  });
  const auto& low = *std::prev(above);
  const auto& high = *above;
  const double share = (celsius - low.celsius) / (high.celsius - low.celsius);
  return low.percent + share * (high.percent - low.percent);
}

std::vector<CurvePoint> defaultCurvePoints() {
  return {{45, 0}, {65, 40}, {85, 100}};
}

}  // namespace zephro
