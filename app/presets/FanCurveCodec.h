#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include "app/presets/FanCurve.h"

namespace zephro {

// The curve list as stored: a compact UTF-8 JSON array of
// {"id","name"[,"symbol"],"points":[{"celsius","percent"}...]} objects.
[[nodiscard]] QByteArray encodeCurves(const QList<FanCurve>& curves);

struct DecodedCurves {
  // Every entry that decoded and makes a curve, in stored order.
  QList<FanCurve> curves;
  // One line for each entry left out: where it stood and why.
  QStringList dropped;
};

// Keeps every entry that makes a curve; data that is no JSON array yields none, with why.
[[nodiscard]] DecodedCurves decodeCurves(const QByteArray& data);

}  // namespace zephro
