#include "tools/zephro-telemetry-receiver/HttpRequest.h"

#include <QList>

namespace zephro {

std::optional<HttpRequest> HttpRequest::parse(const QByteArray& received) {
  const qsizetype headEnd = received.indexOf("\r\n\r\n");
  if (headEnd < 0) return std::nullopt;
  const QList<QByteArray> head = received.left(headEnd).split('\n');
  qsizetype length = 0;
  for (const QByteArray& line : head) {
    if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
  }
  const QByteArray body = received.mid(headEnd + 4);
  if (length < 0 || body.size() < length) return std::nullopt;
  const QList<QByteArray> requestLine = head.value(0).trimmed().split(' ');
  return HttpRequest{requestLine.value(0), requestLine.value(1), body.left(length)};
}

}  // namespace zephro
