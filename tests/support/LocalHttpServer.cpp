#include "tests/support/LocalHttpServer.h"

#include <QTcpSocket>

#include "tools/zephro-telemetry-receiver/HttpRequest.h"

namespace zephro::testing {

// A request is answered and closed once its head and its Content-Length of body are in.
LocalHttpServer::LocalHttpServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
    while (auto* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        const QByteArray received = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", received);
        if (const auto request = HttpRequest::parse(received)) {
          socket->write(
              response(request->method, QString::fromLatin1(request->path), request->body));
          socket->disconnectFromHost();
        }
      });
    }
  });
}

QByteArray LocalHttpServer::response(const QByteArray& method, const QString& path,
                                     const QByteArray& body) {
  static const QMap<int, QByteArray> reasons{{200, "OK"},
                                             {204, "No Content"},
                                             {302, "Found"},
                                             {404, "Not Found"},
                                             {500, "Internal Server Error"}};
  const auto status = [](int code) {
    return "HTTP/1.1 " + QByteArray::number(code) + " " + reasons.value(code, "Status") + "\r\n";
  };
  if (method == "POST" && postStatus_.contains(path)) {
    posted_[path].append(body);
    const int code = postStatus_.value(path);
    return status(code) + (code == 204 ? "" : "Content-Length: 0\r\n") +
           "Connection: close\r\n\r\n";
  }
  const auto found = resources_.find(path);
  if (method != "GET" || found == resources_.end()) {
    return status(404) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
  }
  const auto& [resourceBody, announceLength] = *found;
  return status(200) + "Connection: close\r\n" +
         (announceLength ? "Content-Length: " + QByteArray::number(resourceBody.size()) + "\r\n"
                         : QByteArray()) +
         "\r\n" + resourceBody;
}

}  // namespace zephro::testing
