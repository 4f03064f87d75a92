#include <QCoreApplication>
#include <QDBusConnection>
#include <QTextStream>
#include <cstdio>

#include "tools/zephroctl/ZephroCtl.h"

int main(int argc, char** argv) {
  const QCoreApplication application(argc, argv);
  QTextStream out(stdout);
  QTextStream err(stderr);
  return zephro::ctl::run(QCoreApplication::arguments().mid(1), QDBusConnection::sessionBus(), out,
                          err);
}
