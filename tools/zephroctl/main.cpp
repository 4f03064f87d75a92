#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QTextStream>
#include <cstdio>

#include "tools/zephroctl/ZephroCtl.h"

int main(int argc, char** argv) {
  const QCoreApplication application(argc, argv);
  // Registered before the connection's thread starts: that thread hands replies over as
  // QDBusMessage values, and a type it finds half registered is reported as invalid on
  // standard error.
  qRegisterMetaType<QDBusMessage>();
  qRegisterMetaType<QDBusError>();
  QTextStream out(stdout);
  QTextStream err(stderr);
  return zephro::ctl::run(QCoreApplication::arguments().mid(1), QDBusConnection::sessionBus(), out,
                          err);
}
