#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

#include "tests/support/PrivateBus.h"

namespace zephro::statusitem::testing {

using ::zephro::testing::PrivateBus;

// Turns the event loop until the condition holds; false when the guard passed first (a
// failed test, never a timing assumption: no real wait comes near it).
bool spinUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds guard = std::chrono::seconds(120));

// Calls and turns the event loop until the answer is in, as an item in this same thread
// could not answer a blocking call.
QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call);

// What a host hears of an item's changes: the item's signals, counted.
class HostProbe : public QObject {
  Q_OBJECT

 public:
  // Listens to the item that owns service; false when the bus refused.
  bool listen(QDBusConnection& host, const QString& service);

  int newIcons = 0;
  int newToolTips = 0;
  QStringList newStatuses;
  QStringList newLabels;

  Q_SLOT void onNewIcon() { ++newIcons; }
  Q_SLOT void onNewToolTip() { ++newToolTips; }
  Q_SLOT void onNewStatus(const QString& status) { newStatuses.append(status); }
  Q_SLOT void onNewLabel(const QString& label, const QString&) { newLabels.append(label); }
};

class TestWatcherAdaptor;

// The tray's side of the protocol, as far as items use it: the watcher that items register
// with and that tells them whether a host draws them.
class TestWatcher : public QObject {
  Q_OBJECT

 public:
  struct Registration {
    QString service;  // the argument
    QString sender;   // the caller's unique name
  };

  explicit TestWatcher(QDBusConnection bus);
  ~TestWatcher() override;

  // Takes or gives up the org.kde.StatusNotifierWatcher name, as a panel does when it
  // starts or stops.
  bool start();
  void stop();
  // A host appearing or leaving, announced to the items.
  void setHostRegistered(bool registered);

  [[nodiscard]] bool isHostRegistered() const { return hostRegistered_; }
  [[nodiscard]] const QList<Registration>& registrations() const { return registrations_; }
  void addRegistration(Registration registration);

 private:
  QDBusConnection bus_;
  std::unique_ptr<TestWatcherAdaptor> adaptor_;
  QList<Registration> registrations_;
  bool hostRegistered_ = true;
};

class TestWatcherAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

 public:
  explicit TestWatcherAdaptor(TestWatcher& watcher);

  [[nodiscard]] bool isHostRegistered() const { return watcher_.isHostRegistered(); }

  Q_SLOT void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);

 signals:
  void StatusNotifierHostRegistered();
  void StatusNotifierHostUnregistered();

 private:
  TestWatcher& watcher_;
};

}  // namespace zephro::statusitem::testing
