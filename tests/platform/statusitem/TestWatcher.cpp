#include "tests/platform/statusitem/TestWatcher.h"

#include <QCoreApplication>
#include <QDBusPendingCall>
#include <thread>

namespace zephro::statusitem::testing {

namespace {

const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");

}  // namespace

bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds guard) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call) {
  const QDBusPendingCall pending = bus.asyncCall(call);
  spinUntil([&] { return pending.isFinished(); });
  // Signals sent before the answer are queued for this thread by now; deliver them.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return pending.reply();
}

bool HostProbe::listen(QDBusConnection& host, const QString& service) {
  const QString path = QStringLiteral("/StatusNotifierItem");
  const QString interface = QStringLiteral("org.kde.StatusNotifierItem");
  const bool listening =
      host.connect(service, path, interface, QStringLiteral("NewIcon"), this, SLOT(onNewIcon())) &&
      host.connect(service, path, interface, QStringLiteral("NewToolTip"), this,
                   SLOT(onNewToolTip())) &&
      host.connect(service, path, interface, QStringLiteral("NewStatus"), this,
                   SLOT(onNewStatus(QString))) &&
      host.connect(service, path, interface, QStringLiteral("XAyatanaNewLabel"), this,
                   SLOT(onNewLabel(QString, QString)));
  // One call answered by the bus after the subscriptions: by then it has them all.
  const QDBusMessage ping = callAndWait(
      host, QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
  return listening && ping.type() == QDBusMessage::ReplyMessage;
}

TestWatcher::TestWatcher(QDBusConnection bus)
    : bus_(std::move(bus)), adaptor_(std::make_unique<TestWatcherAdaptor>(*this)) {
  bus_.registerObject(kPath, this, QDBusConnection::ExportAdaptors);
}

TestWatcher::~TestWatcher() {
  stop();
  bus_.unregisterObject(kPath);
}

bool TestWatcher::start() {
  return bus_.registerService(kService);
}

void TestWatcher::stop() {
  bus_.unregisterService(kService);
}

void TestWatcher::setHostRegistered(bool registered) {
  hostRegistered_ = registered;
  if (registered) {
    emit adaptor_->StatusNotifierHostRegistered();
  } else {
    emit adaptor_->StatusNotifierHostUnregistered();
  }
}

void TestWatcher::addRegistration(Registration registration) {
  registrations_.append(std::move(registration));
}

TestWatcherAdaptor::TestWatcherAdaptor(TestWatcher& watcher)
    : QDBusAbstractAdaptor(&watcher), watcher_(watcher) {}

void TestWatcherAdaptor::RegisterStatusNotifierItem(const QString& service,
                                                    const QDBusMessage& message) {
  watcher_.addRegistration({service, message.service()});
}

}  // namespace zephro::statusitem::testing
