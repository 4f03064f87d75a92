// zephro-telemetry-receiver [--port N] FILE: receives Zephro's crash reports and feedback
// on 127.0.0.1 (for the demo and for trying the application out), printing each report
// and appending it to FILE as one JSON line. Prints the address to point
// ZEPHRO_TELEMETRY_URL at, then runs until interrupted.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "tools/zephro-telemetry-receiver/TelemetryReceiver.h"

int main(int argc, char** argv) {
  const QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("where reports are kept"));
  const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("the port"),
                                      QStringLiteral("N"), QStringLiteral("0"));
  parser.addOption(portOption);
  parser.process(app);
  if (parser.positionalArguments().size() != 1) {
    std::fprintf(stderr, "usage: zephro-telemetry-receiver [--port N] FILE\n");
    return 2;
  }
  QFile store(parser.positionalArguments().first());
  if (!store.open(QIODevice::Append | QIODevice::Text)) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(store.fileName()));
    return 1;
  }
  zephro::TelemetryReceiver receiver(store, [](const QByteArray& report) {
    std::printf("%s\n", report.constData());
    std::fflush(stdout);
  });
  if (!receiver.listen(static_cast<quint16>(parser.value(portOption).toUInt()))) {
    std::fprintf(stderr, "cannot listen on port %s\n", qPrintable(parser.value(portOption)));
    return 1;
  }
  std::printf("http://127.0.0.1:%u\n", static_cast<unsigned>(receiver.port()));
  std::fflush(stdout);
  return QCoreApplication::exec();
}
