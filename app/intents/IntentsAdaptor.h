#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include "app/intents/FanModeEntity.h"
#include "app/intents/FanStatusEntity.h"
#include "app/intents/ZephroShortcuts.h"

namespace zephro {

class AppUpdateManager;
class IntentsService;
class LocalizationManager;

// The update state as scripts read it: the case's name, its version or message (empty
// when it has none) and its progress (-1 when it has none).
struct UpdateStateRecord {
  QString kind;
  QString text;
  double progress = -1;
};

QDBusArgument& operator<<(QDBusArgument& argument, const UpdateStateRecord& state);
const QDBusArgument& operator>>(const QDBusArgument& argument, UpdateStateRecord& state);

// com.zephro.Intents1 on the application's object: the actions answer once they are done
// (their replies are delayed, so the application keeps running meanwhile), the queries
// and properties at once. Every change of a property is announced with PropertiesChanged.
class IntentsAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.zephro.Intents1")
  Q_CLASSINFO("D-Bus Introspection",
              "<interface name=\"com.zephro.Intents1\">"
              "<method name=\"SetFanMode\">"
              "<arg name=\"id\" type=\"s\" direction=\"in\"/>"
              "<arg name=\"dialog\" type=\"s\" direction=\"out\"/>"
              "</method>"
              "<method name=\"GetFanStatus\">"
              "<arg name=\"rpm\" type=\"x\" direction=\"out\"/>"
              "<arg name=\"temperature\" type=\"d\" direction=\"out\"/>"
              "<arg name=\"unit\" type=\"s\" direction=\"out\"/>"
              "<arg name=\"dialog\" type=\"s\" direction=\"out\"/>"
              "</method>"
              "<method name=\"IncreaseFanSpeed\">"
              "<arg name=\"amount\" type=\"i\" direction=\"in\"/>"
              "<arg name=\"dialog\" type=\"s\" direction=\"out\"/>"
              "</method>"
              "<method name=\"DecreaseFanSpeed\">"
              "<arg name=\"amount\" type=\"i\" direction=\"in\"/>"
              "<arg name=\"dialog\" type=\"s\" direction=\"out\"/>"
              "</method>"
              "<method name=\"FanModeEntities\">"
              "<arg name=\"entities\" type=\"a(ss)\" direction=\"out\"/>"
              "</method>"
              "<method name=\"FanModeEntitiesForIdentifiers\">"
              "<arg name=\"identifiers\" type=\"as\" direction=\"in\"/>"
              "<arg name=\"entities\" type=\"a(ss)\" direction=\"out\"/>"
              "</method>"
              "<method name=\"FindFanModeEntities\">"
              "<arg name=\"query\" type=\"s\" direction=\"in\"/>"
              "<arg name=\"entities\" type=\"a(ss)\" direction=\"out\"/>"
              "</method>"
              "<method name=\"FanStatusEntities\">"
              "<arg name=\"identifiers\" type=\"as\" direction=\"in\"/>"
              "<arg name=\"entities\" type=\"a(sxds)\" direction=\"out\"/>"
              "</method>"
              "<property name=\"AppShortcuts\" type=\"a(sssas)\" access=\"read\"/>"
              "<property name=\"UpdateState\" type=\"(ssd)\" access=\"read\"/>"
              "</interface>")
  Q_PROPERTY(QList<zephro::AppShortcut> AppShortcuts READ appShortcuts)
  Q_PROPERTY(zephro::UpdateStateRecord UpdateState READ updateState)

 public:
  // Registers the interface's D-Bus types once per process.
  static void registerTypes();

  IntentsAdaptor(QObject& object, IntentsService& service, AppUpdateManager& updates,
                 const LocalizationManager& localization, QDBusConnection bus);

  [[nodiscard]] QList<AppShortcut> appShortcuts() const;
  [[nodiscard]] UpdateStateRecord updateState() const;

 public slots:
  void SetFanMode(const QString& id, const QDBusMessage& message);
  void GetFanStatus(const QDBusMessage& message);
  void IncreaseFanSpeed(int amount, const QDBusMessage& message);
  void DecreaseFanSpeed(int amount, const QDBusMessage& message);
  QList<zephro::FanModeEntity> FanModeEntities();
  QList<zephro::FanModeEntity> FanModeEntitiesForIdentifiers(const QStringList& identifiers);
  QList<zephro::FanModeEntity> FindFanModeEntities(const QString& query);
  QList<zephro::FanStatusEntity> FanStatusEntities(const QStringList& identifiers);

 private:
  void announce(const char* property, const QVariant& value);

  IntentsService& service_;
  AppUpdateManager& updates_;
  const LocalizationManager& localization_;
  QDBusConnection bus_;
};

}  // namespace zephro

Q_DECLARE_METATYPE(zephro::UpdateStateRecord)
