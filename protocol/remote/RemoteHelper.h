#pragma once

#include <memory>

#include "platform/xpc/Connection.h"
#include "protocol/HelperProtocol.h"

namespace zephro {

// The remote object proxy: a HelperProtocol whose calls go over the connection.
// Exactly one of an operation's reply or errorHandler runs for each call: the
// reply when the helper answers, errorHandler on a transport failure (not
// connected, refused, peer gone, invalidated during the call). Both run on the
// connection's thread.
[[nodiscard]] std::shared_ptr<HelperProtocol> remoteHelperProxy(
    std::shared_ptr<xpc::Connection> connection, xpc::Connection::ErrorHandler errorHandler);

}  // namespace zephro
