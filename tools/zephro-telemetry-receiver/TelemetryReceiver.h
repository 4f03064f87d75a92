#pragma once

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <functional>

namespace zephro {

// A stand-in for the telemetry service on the loopback interface: it takes POSTs of
// "/telemetry/crash" and "/telemetry/feedback", prints each body, appends it to a file as
// one JSON line and answers 204; anything else is answered 404. Runs on the thread's
// event loop.
class TelemetryReceiver : public QObject {
  Q_OBJECT

 public:
  // Requests larger than this are answered 413 and dropped.
  static constexpr qsizetype kMaximumRequest = 1 << 20;

  TelemetryReceiver(QFile& store, std::function<void(const QByteArray&)> print,
                    QObject* parent = nullptr);

  // Listens on 127.0.0.1:port (0 picks one); false when the port cannot be had.
  bool listen(quint16 port);
  [[nodiscard]] quint16 port() const { return server_.serverPort(); }

 private:
  void read(QTcpSocket& socket);
  void answer(QTcpSocket& socket, const QByteArray& status);

  QTcpServer server_;
  QFile& store_;
  std::function<void(const QByteArray&)> print_;
};

}  // namespace zephro
