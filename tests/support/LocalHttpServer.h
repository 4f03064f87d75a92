#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <memory>

namespace zephro::testing {

// A small HTTP/1.1 server on 127.0.0.1 for tests of code that downloads or posts: GET of a
// path answers the body set for it (404 otherwise), with or without a Content-Length
// (without one the body ends with the connection); POST to a path keeps the body and
// answers the status set for it (404 otherwise). Runs on the thread's event loop.
class LocalHttpServer {
 public:
  LocalHttpServer();

  void serve(const QString& path, QByteArray body, bool announceLength = true);
  // POSTs to path are answered with status and an empty body.
  void answerPosts(const QString& path, int status);
  // The bodies posted to path, in order.
  [[nodiscard]] QList<QByteArray> posted(const QString& path) const { return posted_.value(path); }
  [[nodiscard]] QUrl url(const QString& path) const;
  // How many requests asked for the path.
  [[nodiscard]] int requests(const QString& path) const { return requests_.value(path); }

 private:
  struct Resource {
    QByteArray body;
    bool announceLength = true;
  };

  void answer(QTcpSocket& socket);
  [[nodiscard]] QByteArray response(const QByteArray& method, const QString& path,
                                    const QByteArray& body);

  QTcpServer server_;
  QMap<QString, Resource> resources_;
  QMap<QString, int> postStatus_;
  QMap<QString, QList<QByteArray>> posted_;
  QMap<QString, int> requests_;
};

}  // namespace zephro::testing
