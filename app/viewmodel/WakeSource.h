#pragma once

#include <QDBusConnection>
#include <QObject>

namespace zephro {

// Tells its listeners that the machine has woken from sleep. Tests emit didWake()
// themselves.
class WakeSource : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 signals:
  void didWake();
};

// systemd-logind's PrepareForSleep(false) on org.freedesktop.login1.Manager: the
// session has just resumed. Without a bus (no system bus in a container, say) there
// are simply no wake events.
class LogindWakeSource final : public WakeSource {
  Q_OBJECT

 public:
  explicit LogindWakeSource(QDBusConnection bus = QDBusConnection::systemBus(),
                            QObject* parent = nullptr);

  // Whether the bus is there and the subscription took.
  [[nodiscard]] bool isListening() const { return listening_; }

 private:
  Q_SLOT void prepareForSleep(bool sleeping);

  bool listening_ = false;
};

}  // namespace zephro
