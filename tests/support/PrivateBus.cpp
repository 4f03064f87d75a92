#include "tests/support/PrivateBus.h"

namespace zephro::testing {

PrivateBus::PrivateBus() {
  daemon_.start(QStringLiteral("dbus-daemon"),
                {"--session", "--nofork", "--nopidfile", "--print-address=1"});
  // Generous: the machine may be busy with other tests.
  if (daemon_.waitForStarted(60000) && daemon_.waitForReadyRead(60000)) {
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
}

PrivateBus::~PrivateBus() {
  for (const auto& name : connections_) QDBusConnection::disconnectFromBus(name);
  daemon_.terminate();
  daemon_.waitForFinished(60000);
}

QDBusConnection PrivateBus::connect(const QString& name) {
  // Qt shares connections by name: the bus's address keeps two buses' apart.
  const QString unique =
      (name.isEmpty() ? QString::number(connections_.size()) : name) + QLatin1Char('@') + address_;
  connections_.append(unique);
  return QDBusConnection::connectToBus(address_, unique);
}

}  // namespace zephro::testing
