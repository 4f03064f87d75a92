#pragma once

#include <QByteArray>
#include <optional>

namespace zephro {

// One HTTP/1.1 request as it arrived: its method, its path and its body.
struct HttpRequest {
  QByteArray method;
  QByteArray path;
  QByteArray body;

  // The request at the start of what a connection has sent so far, once its head and the
  // Content-Length of body are in; nothing while more is to come.
  [[nodiscard]] static std::optional<HttpRequest> parse(const QByteArray& received);
};

}  // namespace zephro
