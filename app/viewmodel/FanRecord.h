#pragma once

#include <QtQml/qqmlregistration.h>
#include <QMetaType>

#include "protocol/FanInfoDTO.h"

namespace zephro {

// One fan as QML reads it: the helper's record, read through, plus where the fan runs
// within its range.
class FanRecord {
  Q_GADGET
  QML_VALUE_TYPE(fanRecord)
  /// The fan's number, as in the SMC key names.
  Q_PROPERTY(qint64 index READ index CONSTANT)
  Q_PROPERTY(double currentRPM READ currentRPM CONSTANT)
  Q_PROPERTY(double minRPM READ minRPM CONSTANT)
  Q_PROPERTY(double maxRPM READ maxRPM CONSTANT)
  /// The mode's raw value: 0 system, 1 manual, 2 max.
  Q_PROPERTY(qint64 mode READ mode CONSTANT)
  /// The current speed as a percentage of the fan's range, never below 25.
  Q_PROPERTY(int percentage READ percentage CONSTANT)

 public:
  FanRecord() = default;
  explicit FanRecord(FanInfoDTO fan) : fan_(fan) {}

  [[nodiscard]] const FanInfoDTO& info() const { return fan_; }
  [[nodiscard]] qint64 index() const { return fan_.index(); }
  [[nodiscard]] double currentRPM() const { return fan_.currentRPM(); }
  [[nodiscard]] double minRPM() const { return fan_.minRPM(); }
  [[nodiscard]] double maxRPM() const { return fan_.maxRPM(); }
  [[nodiscard]] qint64 mode() const { return rawValue(fan_.mode()); }
  [[nodiscard]] int percentage() const;

  friend bool operator==(const FanRecord&, const FanRecord&) = default;

 private:
  FanInfoDTO fan_{0, 0, 0, 0, FanMode::system};
};

}  // namespace zephro
