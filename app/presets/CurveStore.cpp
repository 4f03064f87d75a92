#include "app/presets/CurveStore.h"

#include "app/presets/FanCurveCodec.h"
#include "app/presets/Preset.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

namespace zephro {
namespace {

const QString kCurvesKey = QString::fromLatin1(defaults::fanCurves.name);

DecodedCurves readCurves(const UserDefaults& defaults) {
  if (const auto data = defaults.data(kCurvesKey)) return decodeCurves(*data);
  DecodedCurves nothing;
  if (defaults.object(kCurvesKey).isValid()) {
    nothing.dropped.append(QStringLiteral("the stored curves are not a data value"));
  }
  return nothing;
}

}  // namespace

CurveStore::CurveStore(UserDefaults& defaults, QObject* parent)
    : QObject(parent), defaults_(defaults) {
  DecodedCurves decoded = readCurves(defaults_);
  for (const auto& reason : decoded.dropped) {
    log::write("[Zephro] Left out a stored fan curve: " + reason.toStdString());
  }
  curves_ = std::move(decoded.curves);
}

std::optional<FanCurve> CurveStore::curve(const QUuid& id) const {
  for (const auto& curve : curves_) {
    if (curve.id == id) return curve;
  }
  return std::nullopt;
}

QString CurveStore::activeCurveIDText() const {
  return activeCurveID_ ? uuidText(*activeCurveID_) : QString();
}

void CurveStore::setActiveCurveID(std::optional<QUuid> id) {
  if (id == activeCurveID_) return;
  activeCurveID_ = id;
  emit activeCurveIDChanged();
}

void CurveStore::add(const FanCurve& curve) {
  if (curvePointsProblem(curve.points)) return;
  QList<FanCurve> curves = curves_;
  curves.append(curve);
  setCurves(std::move(curves));
}

void CurveStore::update(const FanCurve& curve) {
  if (curvePointsProblem(curve.points)) return;
  const auto it = std::find_if(curves_.cbegin(), curves_.cend(),
                               [&curve](const FanCurve& stored) { return stored.id == curve.id; });
  if (it == curves_.cend()) return;
  QList<FanCurve> curves = curves_;
  curves[std::distance(curves_.cbegin(), it)] = curve;
  setCurves(std::move(curves));
}

void CurveStore::deleteCurve(const QUuid& id) {
  if (activeCurveID_ == id) setActiveCurveID(std::nullopt);
  QList<FanCurve> curves = curves_;
  curves.removeIf([&id](const FanCurve& curve) { return curve.id == id; });
  setCurves(std::move(curves));
}

QList<FanCurve> CurveStore::loadStoredCurves(const UserDefaults& defaults) {
  return readCurves(defaults).curves;
}

void CurveStore::setCurves(QList<FanCurve> curves) {
  const bool changed = curves != curves_;
  curves_ = std::move(curves);
  defaults_.setData(kCurvesKey, encodeCurves(curves_));
  emit entitiesChanged();
  if (changed) emit curvesChanged();
}

}  // namespace zephro
