#include "protocol/remote/InProcessHelperServer.h"

#include "protocol/remote/HelperInterface.h"

namespace zephro {

InProcessHelperServer::AcceptAll::AcceptAll(HelperProtocol& implementation)
    : exported_(exportedHelper(implementation)) {}

bool InProcessHelperServer::AcceptAll::shouldAcceptNewConnection(
    xpc::IncomingConnection& connection) {
  connection.setExportedObject(exported_);
  connection.resume();
  return true;
}

InProcessHelperServer::InProcessHelperServer(const std::string& socketPath,
                                             HelperProtocol& implementation,
                                             xpc::ListenerOptions options)
    : delegate_(implementation),
      listener_(xpc::Listener::atPath(socketPath, delegate_, std::move(options))),
      thread_([this] { listener_->run(); }) {}

InProcessHelperServer::~InProcessHelperServer() {
  listener_->stop();
  thread_.join();
}

}  // namespace zephro
