#include "tests/support/LocalHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace zephro::testing {

LocalHttpServer::LocalHttpServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
    while (auto* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(*socket); });
    }
  });
}

void LocalHttpServer::serve(const QString& path, QByteArray body, bool announceLength) {
  resources_[path] = {std::move(body), announceLength};
}

QUrl LocalHttpServer::url(const QString& path) const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
}

void LocalHttpServer::answer(QTcpSocket& socket) {
  // The whole request head arrives in one piece for the small GETs of the tests.
  if (!socket.canReadLine()) return;
  const auto requestLine = socket.readLine().trimmed().split(' ');
  socket.readAll();
  const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
  ++requests_[path];
  const auto found = resources_.find(path);
  QByteArray response;
  if (found == resources_.end()) {
    response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  } else {
    response = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    if (found->announceLength)
      response += "Content-Length: " + QByteArray::number(found->body.size()) + "\r\n";
    response += "\r\n" + found->body;
  }
  socket.write(response);
  socket.disconnectFromHost();
}

}  // namespace zephro::testing
