#include "app/viewmodel/WakeSource.h"

namespace zephro {

LogindWakeSource::LogindWakeSource(QDBusConnection bus, QObject* parent) : WakeSource(parent) {
  if (!bus.isConnected()) return;
  listening_ = bus.connect(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"),
                           QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void LogindWakeSource::prepareForSleep(bool sleeping) {
  // The same signal announces going to sleep (true) and waking up (false).
  if (!sleeping) emit didWake();
}

}  // namespace zephro
