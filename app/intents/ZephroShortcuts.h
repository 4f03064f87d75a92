#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include "app/intents/FanModeEntity.h"

namespace zephro {

// A ready-made shortcut for one action: what launchers and assistants offer without the
// user building anything.
struct AppShortcut {
  // The action it runs: "SetFanModeIntent", "GetFanStatusIntent", ...
  QString action;
  QString shortTitle;
  QString systemImage;
  // With the application's name in place and, for the set action, one phrase per mode.
  QStringList phrases;

  friend bool operator==(const AppShortcut&, const AppShortcut&) = default;
};

// The four shortcuts, in order: set the mode, the status, faster, slower.
class ZephroShortcuts {
 public:
  [[nodiscard]] static QList<AppShortcut> appShortcuts(const QList<FanModeEntity>& modes);
};

QDBusArgument& operator<<(QDBusArgument& argument, const AppShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, AppShortcut& shortcut);

}  // namespace zephro

Q_DECLARE_METATYPE(zephro::AppShortcut)
