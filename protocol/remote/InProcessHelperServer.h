#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/xpc/Listener.h"
#include "protocol/HelperProtocol.h"

namespace zephro {

// Serves any HelperProtocol implementation on a socket from a thread of this
// process, accepting every client: for tests of the client side (a helper that
// answers late, never, or with errors). Ready when constructed.
class InProcessHelperServer {
 public:
  InProcessHelperServer(const std::string& socketPath, HelperProtocol& implementation,
                        xpc::ListenerOptions options = {});
  ~InProcessHelperServer();
  InProcessHelperServer(const InProcessHelperServer&) = delete;
  InProcessHelperServer& operator=(const InProcessHelperServer&) = delete;

  [[nodiscard]] std::size_t connectionCount() const { return listener_->connectionCount(); }

 private:
  class AcceptAll final : public xpc::ListenerDelegate {
   public:
    explicit AcceptAll(HelperProtocol& implementation);
    bool shouldAcceptNewConnection(xpc::IncomingConnection& connection) override;

   private:
    std::shared_ptr<xpc::ExportedObject> exported_;
  };

  AcceptAll delegate_;
  std::unique_ptr<xpc::Listener> listener_;
  std::thread thread_;
};

}  // namespace zephro
