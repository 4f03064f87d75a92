#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/log/Log.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Frame.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/Socket.h"

namespace zephro::xpc {
namespace {

constexpr auto kWriteTimeout = std::chrono::seconds(10);

struct Call {
  std::string selector;
  nlohmann::json arguments;
  Connection::ReplyHandler reply;
  Connection::ErrorHandler error;
};

// Everything the connection's thread works on. Shared with the thread so that the
// thread may outlive the Connection object when the last reference to that object
// is dropped inside one of its own handlers.
struct State {
  enum class Phase { disconnected, connected, invalid };

  std::mutex mutex;
  std::string path;
  std::string serviceName;
  Connection::Handler invalidationHandler;
  Connection::Handler interruptionHandler;
  bool resumed = false;
  bool invalidateRequested = false;
  bool stopping = false;
  Phase phase = Phase::disconnected;
  std::deque<std::pair<std::uint64_t, Call>> outbox;
  std::deque<std::function<void()>> tasks;  // handler calls owed to the caller
  std::uint64_t nextId = 1;
  Wakeup wakeup;

  // Owned by the thread alone.
  FileDescriptor socket;
  bool accepted = false;
  FrameDecoder decoder;
  std::map<std::uint64_t, Call> pending;
};

using Lock = std::unique_lock<std::mutex>;

class ConnectionLoop {
 public:
  explicit ConnectionLoop(std::shared_ptr<State> state) : state_(std::move(state)) {}

  void run() {
    for (;;) {
      Lock lock(state_->mutex);
      if (state_->stopping) break;
      if (state_->invalidateRequested && state_->phase != State::Phase::invalid) {
        becomeInvalid(lock, "invalidated by the client", /*log=*/false);
        continue;
      }
      if (runTasks(lock)) continue;
      if (state_->phase == State::Phase::invalid && !state_->outbox.empty()) {
        failOutbox(lock);
        continue;
      }
      if (state_->resumed && !state_->outbox.empty()) {
        if (state_->phase == State::Phase::disconnected && !connect(lock)) continue;
        if (!flushOutbox(lock)) continue;
      }
      lock.unlock();
      waitForEvents();
    }
    finish();
  }

 private:
  // Runs queued handler calls outside the lock. True when it ran any.
  bool runTasks(Lock& lock) {
    if (state_->tasks.empty()) return false;
    auto tasks = std::move(state_->tasks);
    state_->tasks.clear();
    lock.unlock();
    for (auto& task : tasks) task();
    return true;
  }

  bool connect(Lock& lock) {
    lock.unlock();
    std::string error;
    auto fd = connectUnixSocket(state_->path, error);
    lock.lock();
    if (!fd.valid()) {
      becomeInvalid(lock, "could not connect to " + state_->path + ": " + error, false);
      return false;
    }
    state_->socket = std::move(fd);
    state_->accepted = false;
    state_->decoder = FrameDecoder();
    state_->phase = State::Phase::connected;
    return true;
  }

  bool flushOutbox(Lock& lock) {
    auto outbox = std::move(state_->outbox);
    state_->outbox.clear();
    lock.unlock();
    for (auto& [id, call] : outbox) {
      const auto payload = Message::invoke(id, call.selector, call.arguments).toCbor();
      state_->pending.emplace(id, std::move(call));
      if (payload.size() > kMaxFramePayload) {
        lock.lock();
        becomeInvalid(lock, "message too large to send", true);
        return false;
      }
      if (!writeAll(state_->socket.get(), encodeFrame(payload), kWriteTimeout)) {
        lock.lock();
        peerGone(lock);
        return false;
      }
    }
    lock.lock();
    return true;
  }

  void waitForEvents() {
    pollfd fds[2] = {{state_->wakeup.fd(), POLLIN, 0}, {state_->socket.get(), POLLIN, 0}};
    const nfds_t count = state_->socket.valid() ? 2 : 1;
    if (::poll(fds, count, -1) < 0) return;
    if (fds[0].revents) state_->wakeup.drain();
    if (count == 2 && fds[1].revents) readSocket();
  }

  void readSocket() {
    std::uint8_t buffer[16 * 1024];
    const auto got = ::read(state_->socket.get(), buffer, sizeof(buffer));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
      Lock lock(state_->mutex);
      peerGone(lock);
      return;
    }
    state_->decoder.feed({buffer, static_cast<std::size_t>(got)});
    try {
      while (auto payload = state_->decoder.next()) {
        handle(Message::fromCbor(*payload));
        if (!state_->socket.valid()) return;
      }
      if (state_->decoder.status() != FrameDecoder::Status::ok) {
        throw ProtocolViolation("bad frame length " +
                                std::to_string(state_->decoder.announcedLength()));
      }
    } catch (const ProtocolViolation& violation) {
      Lock lock(state_->mutex);
      becomeInvalid(lock, violation.what(), true);
    }
  }

  void handle(const Message& message) {
    switch (message.kind) {
      case Message::Kind::accepted:
        state_->accepted = true;
        return;
      case Message::Kind::invoke:
        throw ProtocolViolation("the service sent an invocation");
      case Message::Kind::reply:
        break;
    }
    const auto it = state_->pending.find(message.id);
    if (it == state_->pending.end()) throw ProtocolViolation("reply to no call");
    auto call = std::move(it->second);
    state_->pending.erase(it);
    try {
      call.reply(message.arguments);
    } catch (const ProtocolViolation&) {
      // This call still gets its one answer, through its error handler.
      state_->pending.emplace(message.id, std::move(call));
      throw;
    }
  }

  // EOF or a failed write. Before the service accepted us it was a refusal.
  void peerGone(Lock& lock) {
    if (!state_->accepted) {
      becomeInvalid(lock, "the service refused the connection", false);
      return;
    }
    closeSocket();
    state_->phase = State::Phase::disconnected;
    const auto error =
        transportError(kConnectionInterrupted, state_->serviceName, "the service went away");
    queuePendingErrors(error);
    if (state_->interruptionHandler) state_->tasks.push_back(state_->interruptionHandler);
  }

  void becomeInvalid(Lock& lock, const std::string& reason, bool log) {
    (void)lock;
    if (log) {
      zephro::log::write("[Zephro] XPC connection to " + state_->serviceName +
                         " invalidated: " + reason + ".");
    }
    closeSocket();
    const bool first = state_->phase != State::Phase::invalid;
    state_->phase = State::Phase::invalid;
    queuePendingErrors(transportError(kConnectionInvalid, state_->serviceName, reason));
    failOutbox(lock);
    if (first && state_->invalidationHandler) {
      state_->tasks.push_back(std::move(state_->invalidationHandler));
      state_->invalidationHandler = nullptr;
      state_->interruptionHandler = nullptr;
    }
  }

  void failOutbox(Lock&) {
    const auto error =
        transportError(kConnectionInvalid, state_->serviceName, "the connection is invalid");
    for (auto& [id, call] : state_->outbox) {
      state_->tasks.emplace_back([handler = std::move(call.error), error] { handler(error); });
    }
    state_->outbox.clear();
  }

  void queuePendingErrors(const Error& error) {
    for (auto& [id, call] : state_->pending) {
      state_->tasks.emplace_back([handler = std::move(call.error), error] { handler(error); });
    }
    state_->pending.clear();
  }

  void closeSocket() {
    state_->socket.reset();
    state_->accepted = false;
  }

  // The Connection is gone: every call still open gets its one answer.
  void finish() {
    Lock lock(state_->mutex);
    const auto error =
        transportError(kConnectionInvalid, state_->serviceName, "the connection was released");
    closeSocket();
    queuePendingErrors(error);
    failOutbox(lock);
    auto tasks = std::move(state_->tasks);
    state_->tasks.clear();
    lock.unlock();
    for (auto& task : tasks) task();
  }

  std::shared_ptr<State> state_;
};

class SocketConnection final : public Connection {
 public:
  SocketConnection(std::string path, std::string serviceName) : state_(std::make_shared<State>()) {
    state_->path = std::move(path);
    state_->serviceName = std::move(serviceName);
    thread_ = std::thread([state = state_] { ConnectionLoop(state).run(); });
  }

  ~SocketConnection() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
    }
    state_->wakeup.signal();
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

  void setInvalidationHandler(Handler handler) override {
    std::lock_guard lock(state_->mutex);
    if (state_->phase != State::Phase::invalid) state_->invalidationHandler = std::move(handler);
  }

  void setInterruptionHandler(Handler handler) override {
    std::lock_guard lock(state_->mutex);
    if (state_->phase != State::Phase::invalid) state_->interruptionHandler = std::move(handler);
  }

  void resume() override {
    update([](State& state) { state.resumed = true; });
  }

  void invalidate() override {
    update([](State& state) { state.invalidateRequested = true; });
  }

  void send(std::string selector, nlohmann::json arguments, ReplyHandler reply,
            ErrorHandler error) override {
    update([&](State& state) {
      state.outbox.emplace_back(state.nextId++, Call{std::move(selector), std::move(arguments),
                                                     std::move(reply), std::move(error)});
    });
  }

 private:
  template <typename Change>
  void update(Change change) {
    {
      std::lock_guard lock(state_->mutex);
      change(*state_);
    }
    state_->wakeup.signal();
  }

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace

std::string socketPathForService(const std::string& serviceName) {
  if (const char* overridden = std::getenv("ZEPHRO_HELPER_SOCKET");
      overridden != nullptr && *overridden != '\0') {
    return overridden;
  }
  return "/run/" + serviceName + ".sock";
}

std::shared_ptr<Connection> Connection::toService(const std::string& serviceName) {
  return std::make_shared<SocketConnection>(socketPathForService(serviceName), serviceName);
}

std::shared_ptr<Connection> Connection::toSocketPath(const std::string& path) {
  return std::make_shared<SocketConnection>(path, path);
}

Error transportError(std::int64_t code, const std::string& serviceName, const std::string& reason) {
  const auto what = code == kConnectionInterrupted ? "interrupted" : "invalidated";
  return Error{kTransportErrorDomain,
               code,
               {{kLocalizedDescriptionKey, "Couldn\u2019t communicate with a helper application."},
                {"NSDebugDescription", "The connection to service named " + serviceName + " was " +
                                           what + ": " + reason + "."}}};
}

}  // namespace zephro::xpc
