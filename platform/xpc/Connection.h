#pragma once

#include <functional>
#include <memory>
#include <string>

#include "protocol/Error.h"

namespace zephro::xpc {

// Transport errors, as the platform's connection layer reports them.
inline constexpr const char* kTransportErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kConnectionInterrupted = 4097;  // the peer went away
inline constexpr std::int64_t kConnectionInvalid = 4099;      // could not connect, or invalidated

// The socket a service name maps to: $ZEPHRO_HELPER_SOCKET when set, else
// /run/<name>.sock.
[[nodiscard]] std::string socketPathForService(const std::string& serviceName);

// One client connection to a service, the stand-in for NSXPCConnection.
//
// Lifecycle: made suspended; resume() connects. Replies and error handlers run on
// the connection's own thread. When the peer goes away after the connection was
// up, the interruption handler runs; when it cannot connect, or invalidate() is
// called, the invalidation handler runs (once). Every outstanding call then gets
// its error handler with a transport error. Handlers must not assume a thread.
class Connection : public std::enable_shared_from_this<Connection> {
public:
  using Handler = std::function<void()>;
  using ErrorHandler = std::function<void(const Error&)>;

  // A connection to a named service (see socketPathForService).
  [[nodiscard]] static std::shared_ptr<Connection> toService(const std::string& serviceName);
  // A connection to an explicit socket path (tests).
  [[nodiscard]] static std::shared_ptr<Connection> toSocketPath(const std::string& path);

  virtual ~Connection() = default;

  virtual void setInvalidationHandler(Handler handler) = 0;
  virtual void setInterruptionHandler(Handler handler) = 0;
  virtual void resume() = 0;
  virtual void invalidate() = 0;
};

}  // namespace zephro::xpc
