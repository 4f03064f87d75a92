#include "app/intents/FanStatusEntity.h"

#include <algorithm>
#include <cmath>

#include "app/viewmodel/StatusText.h"

namespace zephro {

FanStatusEntity FanStatusEntity::reading(const std::vector<FanInfoDTO>& fans, double celsius,
                                         bool useFahrenheit) {
  double fastest = 0;
  for (const auto& fan : fans) fastest = std::max(fastest, fan.currentRPM());
  FanStatusEntity entity;
  entity.rpm = static_cast<qint64>(std::trunc(fastest));
  entity.temperature = shownDegrees(celsius, useFahrenheit);
  entity.temperatureUnit = useFahrenheit ? QStringLiteral("F") : QStringLiteral("C");
  return entity;
}

QString FanStatusEntity::title() const {
  return QString::number(rpm) + QStringLiteral(" RPM");
}

QString FanStatusEntity::temperatureText() const {
  return QString::number(std::lround(temperature)) + QStringLiteral("°") + temperatureUnit;
}

QDBusArgument& operator<<(QDBusArgument& argument, const FanStatusEntity& entity) {
  argument.beginStructure();
  argument << entity.id << entity.rpm << entity.temperature << entity.temperatureUnit;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, FanStatusEntity& entity) {
  argument.beginStructure();
  argument >> entity.id >> entity.rpm >> entity.temperature >> entity.temperatureUnit;
  argument.endStructure();
  return argument;
}

}  // namespace zephro
