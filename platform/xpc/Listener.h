#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/xpc/Frame.h"
#include "platform/xpc/RefusalLimiter.h"
#include "platform/xpc/Socket.h"

namespace zephro::xpc {

// The object a service exports on the connections it accepts.
class ExportedObject {
 public:
  // Sends the reply's argument list. Only the first call counts; it may come from any
  // thread, now or later.
  using Reply = std::function<void(nlohmann::json arguments)>;

  virtual ~ExportedObject() = default;

  // Decodes and runs one invocation, answering through `reply`. Throws
  // ProtocolViolation for an unknown selector or arguments it refuses; the
  // connection is then invalidated.
  virtual void invoke(const std::string& selector, const nlohmann::json& arguments,
                      Reply reply) = 0;
};

// A client connection waiting for the delegate's decision.
class IncomingConnection {
 public:
  IncomingConnection(int socketFd, PeerCredentials peer,
                     std::chrono::steady_clock::time_point deadline, std::uint64_t acceptedAt)
      : socketFd_(socketFd), peer_(peer), deadline_(deadline), acceptedAt_(acceptedAt) {}

  // The connected socket, for the code check to identify the peer. Not to be closed.
  [[nodiscard]] int socketFd() const { return socketFd_; }
  [[nodiscard]] const PeerCredentials& peer() const { return peer_; }
  // When the decision must be made; a check still running then should refuse.
  [[nodiscard]] std::chrono::steady_clock::time_point deadline() const { return deadline_; }
  // When the connection was accepted, in clock ticks after boot (a process's start time
  // in /proc/PID/stat): the peer had started by then.
  [[nodiscard]] std::uint64_t acceptedAt() const { return acceptedAt_; }

  void setExportedObject(std::shared_ptr<ExportedObject> object) { exported_ = std::move(object); }
  [[nodiscard]] const std::shared_ptr<ExportedObject>& exportedObject() const { return exported_; }
  // Starts delivery once the delegate returns. Without it the connection is dropped.
  void resume() { resumed_ = true; }
  [[nodiscard]] bool resumed() const { return resumed_; }

 private:
  int socketFd_;
  PeerCredentials peer_;
  std::chrono::steady_clock::time_point deadline_;
  std::uint64_t acceptedAt_;
  std::shared_ptr<ExportedObject> exported_;
  bool resumed_ = false;
};

class ListenerDelegate {
 public:
  virtual ~ListenerDelegate() = default;
  // Accept: set the exported object, resume the connection and return true.
  // Called on the connection's own thread, so calls for several clients may overlap.
  virtual bool shouldAcceptNewConnection(IncomingConnection& connection) = 0;
  // Whether the user's connections may take any free slot; the others share
  // ListenerOptions::maxConnectionsOfOthers. Called on the accepting thread.
  virtual bool isPreferredUser(uid_t /*uid*/) { return true; }
};

// The socket is open to every local user, so each of them is held to these.
struct ListenerOptions {
  std::string logPrefix = "[ZephroHelper] ";
  std::size_t maxConnectionsPerUser = 8;
  std::size_t maxConnections = 64;
  // Connections of users the delegate does not prefer, together, so that many accounts
  // cannot take every slot from the person at the machine.
  std::size_t maxConnectionsOfOthers = 32;
  // Refused clients: a user refused this often is not checked again for a while.
  RefusalLimiter::Limits refusals;
  // How long a frame that has begun may take to arrive completely.
  std::chrono::milliseconds partialFrameTimeout{10000};
  std::size_t maxFramePayload = kMaxFramePayload;
  // How long a reply may wait for room in a client's socket before the client is dropped.
  std::chrono::milliseconds replyWriteTimeout{10000};
  // How long the delegate has to decide about a client.
  std::chrono::milliseconds acceptDecisionTimeout{2000};
  // A connection without a frame for this long is closed; clients reconnect on demand.
  std::chrono::milliseconds idleTimeout{300000};
};

// The stand-in for NSXPCListener: accepts on the thread that calls run() and gives
// every client a thread of its own, which asks the delegate about it and, once
// accepted, delivers its invocations serially, each to its end. A client still
// being checked counts against the connection limits like one being served.
class Listener {
 public:
  Listener(FileDescriptor listeningSocket, ListenerDelegate& delegate,
           ListenerOptions options = {});
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // The service's socket: the one systemd passed (socket activation), else a socket
  // bound at socketPathForService(serviceName), removed again when the listener goes.
  [[nodiscard]] static std::unique_ptr<Listener> forService(const std::string& serviceName,
                                                            ListenerDelegate& delegate,
                                                            ListenerOptions options = {});
  // A socket bound at `path` (tests), removed again when the listener goes.
  [[nodiscard]] static std::unique_ptr<Listener> atPath(const std::string& path,
                                                        ListenerDelegate& delegate,
                                                        ListenerOptions options = {});

  // Accepts until stop(); then closes every connection and waits for their threads.
  void run();
  // Thread-safe; run() returns soon after.
  void stop();
  // Connections being served right now.
  [[nodiscard]] std::size_t connectionCount() const;

 private:
  struct Served;

  void acceptOne();
  void serve(Served& served);
  [[nodiscard]] bool withinLimits(const PeerCredentials& peer, bool preferred);
  void reapFinished();
  void closeAll();

  FileDescriptor socket_;
  ListenerDelegate& delegate_;
  ListenerOptions options_;
  std::string boundPath_;
  RefusalLimiter refusals_;
  Wakeup wakeup_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Served>> served_;
};

}  // namespace zephro::xpc
