#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <optional>

#include "app/presets/FanCurve.h"

namespace zephro {

class UserDefaults;

// Owns the curve list, stored under "fanCurves" beside the presets (which it leaves as they
// are, so a Zephro without curves keeps its presets), and which curve the fans follow, which
// is never stored. Main thread only.
class CurveStore : public QObject {
  Q_OBJECT
  /// All curves in display order (order of creation).
  Q_PROPERTY(QList<FanCurve> curves READ curves NOTIFY curvesChanged)
  /// The id of the curve the fans follow as upper-case UUID text; empty when none.
  Q_PROPERTY(QString activeCurveID READ activeCurveIDText NOTIFY activeCurveIDChanged)

 public:
  // Reads the stored list; a stored curve that breaks a rule is left out with a line.
  explicit CurveStore(UserDefaults& defaults, QObject* parent = nullptr);

  [[nodiscard]] const QList<FanCurve>& curves() const { return curves_; }
  [[nodiscard]] std::optional<FanCurve> curve(const QUuid& id) const;

  [[nodiscard]] std::optional<QUuid> activeCurveID() const { return activeCurveID_; }
  [[nodiscard]] QString activeCurveIDText() const;
  void setActiveCurveID(std::optional<QUuid> id);

  // Each change of the list is written before the call returns. A curve whose points
  // make no curve is not taken.
  void add(const FanCurve& curve);
  // An unknown id changes and writes nothing.
  void update(const FanCurve& curve);
  // Clears the active mark when it names this id.
  void deleteCurve(const QUuid& id);

  // The stored list without a store, for automation.
  [[nodiscard]] static QList<FanCurve> loadStoredCurves(const UserDefaults& defaults);

 signals:
  void curvesChanged();
  void activeCurveIDChanged();
  // Emitted after every save, so that automation offers the curves as they now are.
  void entitiesChanged();

 private:
  void setCurves(QList<FanCurve> curves);

  UserDefaults& defaults_;
  QList<FanCurve> curves_;
  std::optional<QUuid> activeCurveID_;
};

}  // namespace zephro
