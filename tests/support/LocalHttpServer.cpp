#include "tests/support/LocalHttpServer.h"

#include "tools/zephro-telemetry-receiver/HttpRequest.h"

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

void LocalHttpServer::answerPosts(const QString& path, int status) {
  postStatus_[path] = status;
}

// Reads until the request's head and its Content-Length of body are in, then answers.
void LocalHttpServer::answer(QTcpSocket& socket) {
  const QByteArray received = socket.property("request").toByteArray() + socket.readAll();
  socket.setProperty("request", received);
  const auto request = HttpRequest::parse(received);
  if (!request) return;
  const QString path = QString::fromLatin1(request->path);
  ++requests_[path];
  socket.write(response(request->method, path, request->body));
  socket.disconnectFromHost();
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
  QByteArray answer = status(200) + "Connection: close\r\n";
  if (found->announceLength)
    answer += "Content-Length: " + QByteArray::number(found->body.size()) + "\r\n";
  return answer + "\r\n" + found->body;
}

}  // namespace zephro::testing
