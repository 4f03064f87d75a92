#pragma once

#include <QDBusArgument>
#include <QMetaType>
#include <QString>
#include <cstdint>
#include <vector>

#include "protocol/FanInfoDTO.h"

namespace zephro {

// One reading of the fans, as the status action answers it. Only that action ever makes
// one; it is never picked from a list.
struct FanStatusEntity {
  QString id = QStringLiteral("current");
  // The fastest fan, truncated to whole revolutions; 0 without fans.
  qint64 rpm = 0;
  // The system temperature in the user's unit.
  double temperature = 0;
  // "C" or "F".
  QString temperatureUnit = QStringLiteral("C");

  [[nodiscard]] static FanStatusEntity reading(const std::vector<FanInfoDTO>& fans, double celsius,
                                               bool useFahrenheit);

  // "2400 RPM".
  [[nodiscard]] QString title() const;
  // The temperature rounded half away from zero, "°" and the unit: "57°C".
  [[nodiscard]] QString temperatureText() const;

  friend bool operator==(const FanStatusEntity&, const FanStatusEntity&) = default;
};

QDBusArgument& operator<<(QDBusArgument& argument, const FanStatusEntity& entity);
const QDBusArgument& operator>>(const QDBusArgument& argument, FanStatusEntity& entity);

}  // namespace zephro

Q_DECLARE_METATYPE(zephro::FanStatusEntity)
