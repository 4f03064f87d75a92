#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QStringList>

namespace zephro::testing {

// A panel's StatusNotifierWatcher, taken and given up as a panel starts and stops; tells
// items whether a host draws them. Holding, it answers registrations only when told, as
// GNOME Shell does while a session starts.
class TestWatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER hostRegistered_)

 public:
  explicit TestWatcher(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportScriptableContents);
  }
  ~TestWatcher() override {
    stop();
    bus_.unregisterObject("/StatusNotifierWatcher");
  }

  bool start() { return bus_.registerService("org.kde.StatusNotifierWatcher"); }
  void stop() { bus_.unregisterService("org.kde.StatusNotifierWatcher"); }
  void setHostRegistered(bool registered) {
    hostRegistered_ = registered;
    registered ? emit StatusNotifierHostRegistered() : emit StatusNotifierHostUnregistered();
  }
  void holdAnswers() { holding_ = true; }
  void answerHeld() {
    holding_ = false;
    for (const auto& reply : held_) bus_.send(reply);
    held_.clear();
  }
  // Each registration's argument and its caller's unique name.
  Q_SCRIPTABLE Q_SLOT void RegisterStatusNotifierItem(const QString& service,
                                                      const QDBusMessage& message) {
    registrations.append({service, message.service()});
    if (!holding_) return;
    message.setDelayedReply(true);
    held_.append(message.createReply());
  }
  Q_SIGNAL Q_SCRIPTABLE void StatusNotifierHostRegistered();
  Q_SIGNAL Q_SCRIPTABLE void StatusNotifierHostUnregistered();

  QList<QStringList> registrations;

 private:
  QDBusConnection bus_;
  bool hostRegistered_ = true;
  bool holding_ = false;
  QList<QDBusMessage> held_;
};

}  // namespace zephro::testing
