#include "tools/zephro-telemetry-receiver/TelemetryReceiver.h"

#include "tools/zephro-telemetry-receiver/HttpRequest.h"

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
  const QByteArray received = socket.property("request").toByteArray() + socket.readAll();
  if (received.size() > kMaximumRequest) {
    answer(socket, "413 Content Too Large");
    return;
  }
  socket.setProperty("request", received);
  const auto request = HttpRequest::parse(received);
  if (!request) return;
  if (request->method != "POST" || !isEndpoint(request->path)) {
    answer(socket, "404 Not Found");
    return;
  }
  // One JSON document per line, whatever whitespace the sender used.
  const QByteArray record = QJsonDocument::fromJson(request->body).toJson(QJsonDocument::Compact);
  const QByteArray line = record.isEmpty() ? request->body : record;
  store_.write(line + '\n');
  store_.flush();
  print_(request->path + " " + line);
  answer(socket, "204 No Content");
}

void TelemetryReceiver::answer(QTcpSocket& socket, const QByteArray& status) {
  socket.write("HTTP/1.1 " + status + "\r\nConnection: close\r\n\r\n");
  socket.disconnectFromHost();
}

}  // namespace zephro
