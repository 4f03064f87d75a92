#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/error/Error.h"

namespace zephro::xpc {

// Transport errors, as the platform's connection layer reports them.
inline constexpr const char* kTransportErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kConnectionInterrupted = 4097;  // the peer went away
inline constexpr std::int64_t kConnectionInvalid = 4099;      // could not connect, or invalidated

// The socket a service name maps to: $ZEPHRO_HELPER_SOCKET when set, else
// /run/<name>.sock.
[[nodiscard]] std::string socketPathForService(const std::string& serviceName);

// Thrown by a reply handler (or an exported object) that was handed a message it
// must not accept: wrong classes, missing arguments. The connection that carried
// the message is invalidated.
class ProtocolViolation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One client connection to a service, the stand-in for NSXPCConnection.
//
// Lifecycle: made suspended; resume() connects. Replies and error handlers run on
// the connection's own thread. When the peer goes away after the connection was
// up, the interruption handler runs; when it cannot connect, or invalidate() is
// called, the invalidation handler runs (once). Every outstanding call then gets
// its error handler with a transport error. Handlers must not assume a thread.
//
// After an interruption the connection stays usable: the next send() connects
// again. A server that refuses the client (the code check) closes the socket before
// accepting it, which invalidates the connection.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  using Handler = std::function<void()>;
  using ErrorHandler = std::function<void(const Error&)>;
  // Receives a reply's argument list (a JSON/CBOR array of archived values). It may
  // throw ProtocolViolation to refuse the reply; the connection is then invalidated
  // and the call's error handler runs instead.
  using ReplyHandler = std::function<void(const nlohmann::json& arguments)>;

  // A connection to a named service (see socketPathForService).
  [[nodiscard]] static std::shared_ptr<Connection> toService(const std::string& serviceName);
  // A connection to an explicit socket path (tests).
  [[nodiscard]] static std::shared_ptr<Connection> toSocketPath(const std::string& path);

  virtual ~Connection() = default;

  virtual void setInvalidationHandler(Handler handler) = 0;
  virtual void setInterruptionHandler(Handler handler) = 0;
  virtual void resume() = 0;
  virtual void invalidate() = 0;

  // Sends one invocation. Exactly one of reply and error runs, on the connection's
  // thread. Messages sent before resume() wait for it; after invalidation the
  // error handler runs with kConnectionInvalid.
  virtual void send(std::string selector, nlohmann::json arguments, ReplyHandler reply,
                    ErrorHandler error) = 0;
};

// The transport error for a code (kConnectionInvalid or kConnectionInterrupted).
[[nodiscard]] Error transportError(std::int64_t code, const std::string& serviceName,
                                   const std::string& reason);

}  // namespace zephro::xpc
