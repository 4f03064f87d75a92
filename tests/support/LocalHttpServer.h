#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QUrl>

namespace zephro::testing {

// A small HTTP/1.1 server on 127.0.0.1 for tests of code that downloads or posts: GET of a
// path answers the body set for it (404 otherwise), with or without a Content-Length
// (without one the body ends with the connection); POST to a path keeps the body and
// answers the status set for it, with an empty body (404 otherwise). Runs on the thread's
// event loop.
class LocalHttpServer {
 public:
  LocalHttpServer();

  void serve(const QString& path, QByteArray body, bool announceLength = true) {
    resources_[path] = {std::move(body), announceLength};
  }
  void answerPosts(const QString& path, int status) { postStatus_[path] = status; }
  // The bodies posted to path, in order.
  [[nodiscard]] QList<QByteArray> posted(const QString& path) const { return posted_.value(path); }
  [[nodiscard]] QUrl url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
  }

 private:
  [[nodiscard]] QByteArray response(const QByteArray& method, const QString& path,
                                    const QByteArray& body);

  QTcpServer server_;
  QMap<QString, std::pair<QByteArray, bool>> resources_;
  QMap<QString, int> postStatus_;
  QMap<QString, QList<QByteArray>> posted_;
};

}  // namespace zephro::testing
