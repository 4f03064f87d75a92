#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QUrl>

namespace zephro::testing {

// HTTP/1.1 on 127.0.0.1, on the thread's loop; unset paths get 404. Without a Content-Length a GET
// body ends with the connection; POST keeps the body and answers the set status, empty.
class LocalHttpServer {
 public:
  LocalHttpServer();

  void serve(const QString& path, QByteArray body, bool announceLength = true) {
    resources_[path] = {std::move(body), announceLength};
  }
  void answerPosts(const QString& path, int status) { postStatus_[path] = status; }
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
