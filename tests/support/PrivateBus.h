#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace zephro::testing {

// The test's own dbus-daemon, so its names and objects meet nobody else's and go away with it.
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  [[nodiscard]] bool isRunning() const { return !address_.isEmpty(); }
  [[nodiscard]] const QString& address() const { return address_; }
  // Under `name` (numbered when empty), closed when the bus goes.
  [[nodiscard]] QDBusConnection connect(const QString& name = {});

 private:
  QProcess daemon_;
  QString address_;
  QStringList connections_;
};

}  // namespace zephro::testing
