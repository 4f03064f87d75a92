#pragma once

#include <QMetaType>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <optional>
#include <span>
#include <vector>

namespace zephro {

// One point of a curve: at this temperature, this share of each fan's own speed range.
struct CurvePoint {
  double celsius = 0;
  int percent = 0;

  friend bool operator==(const CurvePoint&, const CurvePoint&) = default;
};

inline constexpr std::size_t kMinimumCurvePoints = 2;
inline constexpr std::size_t kMaximumCurvePoints = 8;

// A named fan curve: the fans follow the system temperature along its points.
struct FanCurve {
  Q_GADGET
  Q_PROPERTY(QString id READ idText CONSTANT)
  Q_PROPERTY(QString name MEMBER name CONSTANT)
  /// The icon: a symbol name or one emoji; empty when none was chosen.
  Q_PROPERTY(QString symbol READ symbolText CONSTANT)
  /// The points as {celsius, percent} maps, coolest first.
  Q_PROPERTY(QVariantList points READ pointList CONSTANT)

 public:
  QUuid id;
  QString name;
  std::optional<QString> symbol;
  std::vector<CurvePoint> points;

  [[nodiscard]] QString idText() const;
  [[nodiscard]] QString symbolText() const { return symbol.value_or(QString()); }
  [[nodiscard]] QVariantList pointList() const;

  friend bool operator==(const FanCurve&, const FanCurve&) = default;
};

// Why the points make no curve: 2 to 8 of them, finite temperatures strictly rising,
// percentages within 0 to 100 and never falling. None when they make one.
[[nodiscard]] std::optional<QString> curvePointsProblem(std::span<const CurvePoint> points);

// The fan percentage the curve gives at a temperature: linear between two points, flat
// before the first and after the last. The points must make a curve.
[[nodiscard]] double curvePercentage(std::span<const CurvePoint> points, double celsius);

// What a new curve starts from: quiet until warm, then rising to full speed.
[[nodiscard]] std::vector<CurvePoint> defaultCurvePoints();

}  // namespace zephro
