#include "platform/xpc/Listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/log/Log.h"
#include "platform/posix/Process.h"
#include "platform/xpc/Connection.h"
#include "platform/xpc/Message.h"

namespace zephro::xpc {

// The writing end of an accepted connection. Shared with the replies handed to the
// exported object, which may answer after the connection has ended.
struct Channel {
  FileDescriptor socket;
  std::mutex writeMutex;
  std::chrono::milliseconds writeTimeout;

  void send(const Message& message) {
    const auto payload = message.toCbor();
    std::lock_guard lock(writeMutex);
    if (payload.size() > kMaxFramePayload ||
        !writeAll(socket.get(), encodeFrame(payload), writeTimeout)) {
      // A client that cannot take its reply is dropped; the reader sees the end.
      ::shutdown(socket.get(), SHUT_RDWR);
    }
  }
};

struct Listener::Served {
  std::shared_ptr<Channel> channel;
  PeerCredentials peer;
  bool preferred = true;
  std::uint64_t acceptedAt = 0;
  std::thread thread;
  std::atomic<bool> finished{false};
};

namespace {

// poll() takes an int of milliseconds; longer waits are taken in steps.
constexpr std::int64_t kMaxPollMillis = 24 * 60 * 60 * 1000;

std::string printable(const std::string& text) {
  std::string result;
  for (const unsigned char c : text.substr(0, 240)) {
    result += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  return result;
}

class Delivery {
 public:
  Delivery(std::shared_ptr<Channel> channel, PeerCredentials peer,
           std::shared_ptr<ExportedObject> exported, const ListenerOptions& options)
      : channel_(std::move(channel)),
        peer_(peer),
        exported_(std::move(exported)),
        options_(options),
        decoder_(options.maxFramePayload) {}

  void run() {
    for (;;) {
      const auto outcome = readSome();
      if (outcome == Outcome::closed) break;
      if (outcome == Outcome::failed) break;
    }
    ::shutdown(channel_->socket.get(), SHUT_RDWR);
  }

 private:
  enum class Outcome { more, closed, failed };

  Outcome readSome() {
    const int fd = channel_->socket.get();
    const auto now = std::chrono::steady_clock::now();
    const bool partial = decoder_.inPartialFrame();
    const auto deadline = partial ? partialDeadline_ : lastFrame_ + options_.idleTimeout;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (left.count() <= 0) {
      if (partial) {
        return invalidate("no complete frame within " +
                          std::to_string(options_.partialFrameTimeout.count()) + " ms");
      }
      zephro::log::write(options_.logPrefix + "Closed idle connection from pid " +
                         std::to_string(peer_.pid) + ".");
      return Outcome::closed;
    }
    pollfd entry{fd, POLLIN, 0};
    const int ready =
        ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(left.count(), kMaxPollMillis)));
    if (ready < 0) return errno == EINTR ? Outcome::more : Outcome::closed;
    if (ready == 0) return Outcome::more;  // the deadline check above reports it
    std::uint8_t buffer[16 * 1024];
    const auto got = ::read(fd, buffer, sizeof(buffer));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Outcome::more;
    if (got <= 0) {
      if (decoder_.inPartialFrame()) {
        return invalidate("connection closed in the middle of a frame");
      }
      return Outcome::closed;
    }
    const bool wasPartial = decoder_.inPartialFrame();
    decoder_.feed({buffer, static_cast<std::size_t>(got)});
    if (!wasPartial)
      partialDeadline_ = std::chrono::steady_clock::now() + options_.partialFrameTimeout;
    return deliverFrames();
  }

  Outcome deliverFrames() {
    try {
      while (auto payload = decoder_.next()) {
        deliver(Message::fromCbor(*payload));
        lastFrame_ = std::chrono::steady_clock::now();
        // A new frame that already began gets its own full time.
        partialDeadline_ = lastFrame_ + options_.partialFrameTimeout;
      }
    } catch (const ProtocolViolation& violation) {
      return invalidate(violation.what());
    } catch (const std::exception& failure) {
      return invalidate(std::string("request failed: ") + failure.what());
    }
    switch (decoder_.status()) {
      case FrameDecoder::Status::ok:
        return Outcome::more;
      case FrameDecoder::Status::empty:
        return invalidate("empty frame");
      case FrameDecoder::Status::oversized:
        return invalidate("frame of " + std::to_string(decoder_.announcedLength()) +
                          " bytes exceeds the limit of " +
                          std::to_string(options_.maxFramePayload) + " bytes");
    }
    return Outcome::more;
  }

  void deliver(const Message& message) {
    if (message.kind != Message::Kind::invoke) {
      throw ProtocolViolation("a client may only send invocations");
    }
    auto answered = std::make_shared<std::atomic<bool>>(false);
    ExportedObject::Reply reply = [channel = channel_, id = message.id,
                                   answered](nlohmann::json arguments) {
      if (answered->exchange(true)) return;
      channel->send(Message::reply(id, std::move(arguments)));
    };
    exported_->invoke(message.selector, message.arguments, std::move(reply));
  }

  Outcome invalidate(const std::string& reason) {
    zephro::log::write(options_.logPrefix + "Invalidated connection from pid " +
                       std::to_string(peer_.pid) + ": " + printable(reason) + ".");
    return Outcome::failed;
  }

  std::shared_ptr<Channel> channel_;
  PeerCredentials peer_;
  std::shared_ptr<ExportedObject> exported_;
  const ListenerOptions& options_;
  FrameDecoder decoder_;
  std::chrono::steady_clock::time_point partialDeadline_;
  std::chrono::steady_clock::time_point lastFrame_ = std::chrono::steady_clock::now();
};

}  // namespace

Listener::Listener(FileDescriptor listeningSocket, ListenerDelegate& delegate,
                   ListenerOptions options)
    : socket_(std::move(listeningSocket)),
      delegate_(delegate),
      options_(std::move(options)),
      refusals_(options_.refusals) {}

Listener::~Listener() {
  stop();
  closeAll();
  if (!boundPath_.empty()) ::unlink(boundPath_.c_str());
}

std::unique_ptr<Listener> Listener::forService(const std::string& serviceName,
                                               ListenerDelegate& delegate,
                                               ListenerOptions options) {
  const int passed = sd_listen_fds(1);
  if (passed < 0) throw std::system_error(-passed, std::generic_category(), "sd_listen_fds");
  if (passed > 1) {
    throw std::system_error(EINVAL, std::generic_category(), "systemd passed more than one socket");
  }
  if (passed == 1) {
    const int fd = SD_LISTEN_FDS_START;
    if (sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) <= 0) {
      throw std::system_error(EINVAL, std::generic_category(),
                              "the socket systemd passed is not a listening Unix stream socket");
    }
    return std::make_unique<Listener>(FileDescriptor(fd), delegate, std::move(options));
  }
  return atPath(socketPathForService(serviceName), delegate, std::move(options));
}

std::unique_ptr<Listener> Listener::atPath(const std::string& path, ListenerDelegate& delegate,
                                           ListenerOptions options) {
  auto listener = std::make_unique<Listener>(listenUnixSocket(path), delegate, std::move(options));
  listener->boundPath_ = path;
  return listener;
}

void Listener::run() {
  while (!stopping_) {
    pollfd fds[2] = {{wakeup_.fd(), POLLIN, 0}, {socket_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[0].revents) wakeup_.drain();
    reapFinished();
    if (!stopping_ && fds[1].revents) acceptOne();
  }
  closeAll();
}

void Listener::stop() {
  stopping_ = true;
  wakeup_.signal();
}

std::size_t Listener::connectionCount() const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& served : served_) count += served->finished ? 0 : 1;
  return count;
}

void Listener::acceptOne() {
  FileDescriptor client(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!client.valid()) return;  // the client gave up already, or out of descriptors
  const auto acceptedAt = proc::ticksSinceBoot();
  const auto peer = peerCredentials(client.get());
  // A user paused for its refusals is closed without a word: one line per pause.
  if (!peer || !refusals_.admits(peer->uid, std::chrono::steady_clock::now())) return;
  const bool preferred = delegate_.isPreferredUser(peer->uid);
  if (!withinLimits(*peer, preferred)) return;

  auto served = std::make_unique<Served>();
  served->channel = std::make_shared<Channel>();
  served->channel->socket = std::move(client);
  served->channel->writeTimeout = options_.replyWriteTimeout;
  served->peer = *peer;
  served->preferred = preferred;
  served->acceptedAt = acceptedAt;
  auto* raw = served.get();
  // Listed before its thread starts, so that the limits count it while it is checked.
  std::lock_guard lock(mutex_);
  served_.push_back(std::move(served));
  raw->thread = std::thread([raw, this] {
    serve(*raw);
    raw->finished = true;
    wakeup_.signal();
  });
}

void Listener::serve(Served& served) {
  const auto deadline = std::chrono::steady_clock::now() + options_.acceptDecisionTimeout;
  IncomingConnection incoming(served.channel->socket.get(), served.peer, deadline,
                              served.acceptedAt);
  if (stopping_) {
    ::shutdown(served.channel->socket.get(), SHUT_RDWR);
    return;
  }
  if (!delegate_.shouldAcceptNewConnection(incoming) || !incoming.resumed() ||
      !incoming.exportedObject()) {
    // Counted before the client sees the end, so that its next connection meets the count.
    const auto uid = served.peer.uid;
    if (refusals_.refused(uid, std::chrono::steady_clock::now())) {
      zephro::log::write(options_.logPrefix + "Too many refused connections from uid " +
                         std::to_string(uid) + "; closing its connections for " +
                         std::to_string(options_.refusals.pause.count() / 1000) + " s.");
    }
    ::shutdown(served.channel->socket.get(), SHUT_RDWR);
    return;
  }
  served.channel->send(Message::accepted());
  Delivery(served.channel, served.peer, incoming.exportedObject(), options_).run();
}

bool Listener::withinLimits(const PeerCredentials& peer, bool preferred) {
  std::size_t total = 0;
  std::size_t ofUser = 0;
  std::size_t ofOthers = 0;
  {
    std::lock_guard lock(mutex_);
    for (const auto& served : served_) {
      if (served->finished) continue;
      ++total;
      if (served->peer.uid == peer.uid) ++ofUser;
      if (!served->preferred) ++ofOthers;
    }
  }
  const auto refuse = [&](const std::string& reason) {
    zephro::log::write(options_.logPrefix + "Rejected connection from pid " +
                       std::to_string(peer.pid) + ": " + reason + ".");
    return false;
  };
  if (total >= options_.maxConnections) {
    return refuse("too many connections (limit " + std::to_string(options_.maxConnections) + ")");
  }
  if (!preferred && ofOthers >= options_.maxConnectionsOfOthers) {
    return refuse("too many connections from users who may not change the fans (limit " +
                  std::to_string(options_.maxConnectionsOfOthers) + ")");
  }
  if (ofUser >= options_.maxConnectionsPerUser) {
    return refuse("too many connections from uid " + std::to_string(peer.uid) + " (limit " +
                  std::to_string(options_.maxConnectionsPerUser) + ")");
  }
  return true;
}

void Listener::reapFinished() {
  std::list<std::unique_ptr<Served>> done;
  {
    std::lock_guard lock(mutex_);
    for (auto it = served_.begin(); it != served_.end();) {
      if ((*it)->finished) {
        done.push_back(std::move(*it));
        it = served_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& served : done) served->thread.join();
}

void Listener::closeAll() {
  std::list<std::unique_ptr<Served>> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(served_);
  }
  for (auto& served : all) ::shutdown(served->channel->socket.get(), SHUT_RDWR);
  for (auto& served : all) served->thread.join();
}

}  // namespace zephro::xpc
