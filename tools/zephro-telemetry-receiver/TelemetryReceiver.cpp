#include "tools/zephro-telemetry-receiver/TelemetryReceiver.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace zephro {
namespace {

bool isEndpoint(const QByteArray& path) {
  return path == "/telemetry/crash" || path == "/telemetry/feedback";
}

}  // namespace

TelemetryReceiver::TelemetryReceiver(QFile& store, std::function<void(const QByteArray&)> print,
                                     QObject* parent)
    : QObject(parent), store_(store), print_(std::move(print)) {
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(*socket); });
    }
  });
}

bool TelemetryReceiver::listen(quint16 port) {
  return server_.listen(QHostAddress::LocalHost, port);
}

// Collects the request until its head and Content-Length of body are in.
void TelemetryReceiver::read(QTcpSocket& socket) {
  const QByteArray request = socket.property("request").toByteArray() + socket.readAll();
  if (request.size() > kMaximumRequest) {
    answer(socket, "413 Content Too Large");
    return;
  }
  socket.setProperty("request", request);
  const qsizetype headEnd = request.indexOf("\r\n\r\n");
  if (headEnd < 0) return;
  const QList<QByteArray> head = request.left(headEnd).split('\n');
  qsizetype length = 0;
  for (const QByteArray& line : head) {
    if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
  }
  const QByteArray body = request.mid(headEnd + 4);
  if (body.size() < length) return;

  const QList<QByteArray> requestLine = head.value(0).trimmed().split(' ');
  if (requestLine.value(0) != "POST" || !isEndpoint(requestLine.value(1))) {
    answer(socket, "404 Not Found");
    return;
  }
  // One JSON document per line, whatever whitespace the sender used.
  const QByteArray record =
      QJsonDocument::fromJson(body.left(length)).toJson(QJsonDocument::Compact);
  const QByteArray line = record.isEmpty() ? body.left(length) : record;
  store_.write(line + '\n');
  store_.flush();
  print_(requestLine.value(1) + " " + line);
  answer(socket, "204 No Content");
}

void TelemetryReceiver::answer(QTcpSocket& socket, const QByteArray& status) {
  socket.write("HTTP/1.1 " + status + "\r\nConnection: close\r\n\r\n");
  socket.disconnectFromHost();
}

}  // namespace zephro
