#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/PrivateBus.h"

namespace zephro::statusitem::testing {

using ::zephro::testing::PrivateBus;

// Turns the event loop until the condition holds; false when the guard passed first (a
// failed test, never a timing assumption: no real wait comes near it).
inline bool spinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds guard = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Calls and turns the event loop until the answer is in, as an item in this same thread
// could not answer a blocking call.
inline QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call) {
  const QDBusPendingCall pending = bus.asyncCall(call);
  spinUntil([&] { return pending.isFinished(); });
  // Signals sent before the answer are queued for this thread by now; deliver them.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return pending.reply();
}

// What a host hears of an item's changes: each signal's name, and its first argument
// when it has one ("NewStatus NeedsAttention").
class HostProbe : public QObject {
  Q_OBJECT

 public:
  // Listens to the item that owns service; false when the bus refused.
  bool listen(QDBusConnection& host, const QString& service) {
    bool listening = true;
    for (const char* name : {"NewIcon", "NewToolTip", "NewStatus", "XAyatanaNewLabel"}) {
      listening =
          listening && host.connect(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                    name, this, SLOT(onSignal(QDBusMessage)));
    }
    // One call answered by the bus after the subscriptions: by then it has them all.
    const QDBusMessage ping = callAndWait(
        host, QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                             "org.freedesktop.DBus.Peer", "Ping"));
    return listening && ping.type() == QDBusMessage::ReplyMessage;
  }
  QStringList heard;

  Q_SLOT void onSignal(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    heard.append(arguments.isEmpty() ? message.member()
                                     : message.member() + " " + arguments[0].toString());
  }
};

// The tray's side of the protocol, as far as items use it: the watcher that items register
// with and that tells them whether a host draws them.
class TestWatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

 public:
  struct Registration {
    QString service;  // the argument
    QString sender;   // the caller's unique name
  };

  explicit TestWatcher(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportScriptableContents);
  }
  ~TestWatcher() override {
    stop();
    bus_.unregisterObject("/StatusNotifierWatcher");
  }

  // Takes or gives up the watcher's name, as a panel does when it starts or stops.
  bool start() { return bus_.registerService("org.kde.StatusNotifierWatcher"); }
  void stop() { bus_.unregisterService("org.kde.StatusNotifierWatcher"); }
  // A host appearing or leaving, announced to the items.
  void setHostRegistered(bool registered) {
    hostRegistered_ = registered;
    if (registered) {
      emit StatusNotifierHostRegistered();
    } else {
      emit StatusNotifierHostUnregistered();
    }
  }

  [[nodiscard]] bool isHostRegistered() const { return hostRegistered_; }
  [[nodiscard]] const QList<Registration>& registrations() const { return registrations_; }

  Q_SCRIPTABLE Q_SLOT void RegisterStatusNotifierItem(const QString& service,
                                                      const QDBusMessage& message) {
    registrations_.append({service, message.service()});
  }

 signals:
  Q_SCRIPTABLE void StatusNotifierHostRegistered();
  Q_SCRIPTABLE void StatusNotifierHostUnregistered();

 private:
  QDBusConnection bus_;
  QList<Registration> registrations_;
  bool hostRegistered_ = true;
};

}  // namespace zephro::statusitem::testing
