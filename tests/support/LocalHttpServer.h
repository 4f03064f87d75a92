#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <memory>

namespace zephro::testing {

// A small HTTP/1.1 server on 127.0.0.1 for tests of code that downloads: GET of a
// path answers the body set for it (404 otherwise), with or without a Content-Length
// (without one the body ends with the connection). Runs on the thread's event loop.
class LocalHttpServer {
 public:
  LocalHttpServer();

  void serve(const QString& path, QByteArray body, bool announceLength = true);
  [[nodiscard]] QUrl url(const QString& path) const;
  // How many requests asked for the path.
  [[nodiscard]] int requests(const QString& path) const { return requests_.value(path); }

 private:
  struct Resource {
    QByteArray body;
    bool announceLength = true;
  };

  void answer(QTcpSocket& socket);

  QTcpServer server_;
  QMap<QString, Resource> resources_;
  QMap<QString, int> requests_;
};

}  // namespace zephro::testing
