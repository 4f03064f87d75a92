#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace zephro::testing {

// A message bus of the test's own (dbus-daemon --session), so that names and objects
// the test owns meet nobody else's and go away with it.
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  [[nodiscard]] bool isRunning() const { return !address_.isEmpty(); }
  [[nodiscard]] const QString& address() const { return address_; }
  // A connection of its own under `name` (a numbered one when empty), closed when the
  // bus goes.
  [[nodiscard]] QDBusConnection connect(const QString& name = {});

 private:
  QProcess daemon_;
  QString address_;
  QStringList connections_;
};

}  // namespace zephro::testing
