#include "platform/xpc/Listener.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "platform/log/Log.h"
#include "platform/xpc/Message.h"
#include "protocol/KeyedArchive.h"
#include "protocol/remote/HelperInterface.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "protocol/remote/RemoteHelper.h"
#include "tests/support/TempDir.h"

namespace zephro::xpc {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::TempDir;

// Generous: the suite runs under ASan on a slow shared machine.
constexpr auto kWait = 60s;

// Turns until the condition holds; false when the guard passed first.
bool waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A HelperProtocol that answers with whatever the test set, or keeps the replies
// unanswered so a test can answer later, twice, or never.
class FakeHelper final : public HelperProtocol {
 public:
  std::vector<FanInfoDTO> fans;
  bool answer = true;
  bool answerTwice = false;

  void getFanInfo(FanInfoReply reply) override {
    if (!answer) return keep([reply] { reply({}, std::nullopt); });
    reply(fans, std::nullopt);
    if (answerTwice) reply({}, std::nullopt);
  }
  void getSystemTemperature(TemperatureReply reply) override {
    if (!answer) return keep([reply] { reply(0, std::nullopt); });
    reply(0, std::nullopt);
  }
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    {
      std::lock_guard lock(mutex_);
      modes_.emplace_back(mode, std::move(percentages));
    }
    if (!answer) return keep([reply] { reply(std::nullopt); });
    reply(std::nullopt);
  }
  void getVersion(VersionReply reply) override {
    if (!answer) return keep([reply] { reply("late"); });
    reply(kHelperProtocolVersion);
  }

  [[nodiscard]] std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> modes() const {
    std::lock_guard lock(mutex_);
    return modes_;
  }
  [[nodiscard]] std::size_t keptCount() const {
    std::lock_guard lock(mutex_);
    return kept_.size();
  }
  // Answers every kept reply now.
  void answerKept() {
    std::vector<std::function<void()>> kept;
    {
      std::lock_guard lock(mutex_);
      kept.swap(kept_);
    }
    for (auto& reply : kept) reply();
  }

 private:
  void keep(std::function<void()> reply) {
    std::lock_guard lock(mutex_);
    kept_.push_back(std::move(reply));
  }

  mutable std::mutex mutex_;
  std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> modes_;
  std::vector<std::function<void()>> kept_;
};
// A client that speaks raw bytes, to send what no well-behaved client would.
class RawClient {
 public:
  explicit RawClient(const std::string& path) {
    std::string error;
    fd_ = connectUnixSocket(path, error);
    EXPECT_TRUE(fd_.valid()) << error;
  }

  void sendBytes(std::span<const std::uint8_t> bytes) {
    EXPECT_TRUE(writeAll(fd_.get(), bytes, 10s));
  }
  void invoke(std::uint64_t id, std::string selector, json arguments) {
    sendBytes(encodeFrame(Message::invoke(id, std::move(selector), std::move(arguments)).toCbor()));
  }

  // The next message, or nothing when the helper closed the connection.
  std::optional<Message> receive() {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    for (;;) {
      if (auto payload = decoder_.next()) return Message::fromCbor(*payload);
      pollfd entry{fd_.get(), POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
        ADD_FAILURE() << "the helper neither answered nor closed";
        return std::nullopt;
      }
      std::uint8_t buffer[4096];
      const auto got = ::read(fd_.get(), buffer, sizeof(buffer));
      if (got <= 0) return std::nullopt;
      decoder_.feed({buffer, static_cast<std::size_t>(got)});
    }
  }

  // Reads past the "accepted" greeting; true when the helper accepted us.
  bool accepted() {
    const auto first = receive();
    return first && first->kind == Message::Kind::accepted;
  }

  bool closedByPeer() { return !receive().has_value(); }

 private:
  FileDescriptor fd_;
  FrameDecoder decoder_;
};

std::string versionReply(RawClient& client, std::uint64_t id) {
  client.invoke(id, "getVersionWithReply:", json::array());
  const auto reply = client.receive();
  if (!reply) return "<closed>";
  EXPECT_EQ(reply->kind, Message::Kind::reply);
  EXPECT_EQ(reply->id, id);
  return archive::decodeString(reply->arguments.at(0));
}

// Waits until the capture holds a line starting with `prefix`.
std::vector<std::string> waitForLines(const log::Capture& capture, const std::string& prefix,
                                      std::size_t count = 1) {
  waitUntil([&] { return capture.linesStartingWith(prefix).size() >= count; });
  return capture.linesStartingWith(prefix);
}

struct ListenerTest : ::testing::Test {
  TempDir dir;
  std::string path = (dir / "helper.sock").string();
  FakeHelper fake;
  log::Capture capture;
};

TEST_F(ListenerTest, BrokenMessagesInvalidateOnlyTheirOwnConnection) {
  InProcessHelperServer server(path, fake);
  RawClient bystander(path);
  ASSERT_TRUE(bystander.accepted());
  const auto pid = std::to_string(::getpid());

  using Bytes = std::vector<std::uint8_t>;
  const auto frame = [](const Bytes& payload) { return encodeFrame(payload); };
  const auto message = [](const Message& m) { return encodeFrame(m.toCbor()); };
  const std::vector<std::pair<Bytes, std::string>> cases{
      {frame({0xa1, 0x01, 0x02}), "payload is not one CBOR item"},
      {frame({0xa0, 0xa0}), "bytes after the CBOR item"},
      {{0x00, 0x01, 0x00, 0x01, 0xa0}, "frame of 65537 bytes exceeds the limit of 65536 bytes"},
      {{0, 0, 0, 0}, "empty frame"},
      {frame(Bytes(5000, 0x81)), "CBOR nested too deeply"},
      {frame(json::to_cbor(json::array({1, 2}))), "message is not a map"},
      {message(Message::invoke(1, "rm -rf /:", json::array())), "unknown selector rm -rf /:"},
      {message(Message::invoke(
           1, "setFanMode:percentages:reply:",
           json::array({1, archive::archiveArray({archive::archiveString("40")})}))),
       "argument 1 of setFanMode:percentages:reply:: class NSString is not allowed here"},
      {message(Message::reply(1, json::array())), "a client may only send invocations"},
  };
  for (const auto& [bytes, reason] : cases) {
    SCOPED_TRACE(reason);
    capture.clear();
    RawClient offender(path);
    ASSERT_TRUE(offender.accepted());
    offender.sendBytes(bytes);
    EXPECT_TRUE(offender.closedByPeer());
    EXPECT_EQ(waitForLines(capture, "[ZephroHelper] Invalidated"),
              std::vector<std::string>{"[ZephroHelper] Invalidated connection from pid " + pid +
                                       ": " + reason + "."});
    EXPECT_EQ(versionReply(bystander, 7), "1.0.1");
  }
  // Nothing reached the service from any of them.
  EXPECT_TRUE(fake.modes().empty());
}

TEST_F(ListenerTest, TruncatedAndStalledFramesAreDropped) {
  ListenerOptions options;
  options.partialFrameTimeout = 300ms;
  InProcessHelperServer server(path, fake, options);
  const auto pid = std::to_string(::getpid());
  const auto frame =
      encodeFrame(Message::invoke(1, "getVersionWithReply:", json::array()).toCbor());
  const std::vector<std::uint8_t> half(frame.begin(), frame.begin() + 6);

  {
    RawClient truncated(path);
    ASSERT_TRUE(truncated.accepted());
    truncated.sendBytes(half);
  }  // closes mid-frame
  EXPECT_EQ(waitForLines(capture, "[ZephroHelper] Invalidated"),
            std::vector<std::string>{"[ZephroHelper] Invalidated connection from pid " + pid +
                                     ": connection closed in the middle of a frame."});

  capture.clear();
  RawClient stalled(path);
  ASSERT_TRUE(stalled.accepted());
  stalled.sendBytes(half);
  EXPECT_TRUE(stalled.closedByPeer());
  EXPECT_EQ(capture.linesStartingWith("[ZephroHelper] Invalidated"),
            std::vector<std::string>{"[ZephroHelper] Invalidated connection from pid " + pid +
                                     ": no complete frame within 300 ms."});

  // A client that simply stays idle between whole frames is never dropped.
  RawClient idle(path);
  ASSERT_TRUE(idle.accepted());
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(versionReply(idle, 1), "1.0.1");
}

// Keeps the first client in its check until the test lets it go; accepts everyone.
class SlowFirstCheck final : public ListenerDelegate {
 public:
  explicit SlowFirstCheck(HelperProtocol& implementation)
      : exported_(exportedHelper(implementation)) {}

  bool shouldAcceptNewConnection(IncomingConnection& connection) override {
    std::unique_lock lock(mutex_);
    if (checks_++ == 0) {
      changed_.notify_all();
      changed_.wait(lock, [this] { return release_; });
    }
    connection.setExportedObject(exported_);
    connection.resume();
    return true;
  }
  // Connections made after this return are not the one held in its check.
  void waitForTheHeldCheck() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return checks_ > 0; });
  }
  void release() {
    const std::lock_guard lock(mutex_);
    release_ = true;
    changed_.notify_all();
  }

 private:
  std::shared_ptr<ExportedObject> exported_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int checks_ = 0;
  bool release_ = false;
};

TEST_F(ListenerTest, ASlowCheckDelaysNoOtherClientAndIdleConnectionsClose) {
  SlowFirstCheck delegate(fake);
  ListenerOptions options;
  options.idleTimeout = 300ms;
  auto listener = Listener::atPath(path, delegate, options);
  std::thread serving([&] { listener->run(); });

  RawClient slow(path);
  delegate.waitForTheHeldCheck();
  RawClient quick(path);
  ASSERT_TRUE(quick.accepted());
  EXPECT_EQ(versionReply(quick, 1), "1.0.1");
  delegate.release();
  EXPECT_TRUE(slow.accepted());

  // Neither sends another frame.
  EXPECT_TRUE(quick.closedByPeer());
  EXPECT_TRUE(slow.closedByPeer());
  const auto idle =
      "[ZephroHelper] Closed idle connection from pid " + std::to_string(::getpid()) + ".";
  EXPECT_EQ(waitForLines(capture, "[ZephroHelper] Closed", 2),
            (std::vector<std::string>{idle, idle}));
  listener->stop();
  serving.join();
}

TEST_F(ListenerTest, ConnectionsAreCappedPerUserAndInTotal) {
  const auto uid = std::to_string(::getuid());
  const auto pid = std::to_string(::getpid());
  for (const bool perUser : {true, false}) {
    SCOPED_TRACE(perUser ? "per user" : "in total");
    capture.clear();
    ListenerOptions options;
    (perUser ? options.maxConnectionsPerUser : options.maxConnections) = 2;
    InProcessHelperServer server(path, fake, options);
    RawClient first(path), second(path);
    ASSERT_TRUE(first.accepted());
    ASSERT_TRUE(second.accepted());
    {
      RawClient third(path);
      EXPECT_TRUE(third.closedByPeer());
    }
    EXPECT_EQ(
        capture.linesStartingWith("[ZephroHelper] Rejected"),
        std::vector<std::string>{"[ZephroHelper] Rejected connection from pid " + pid +
                                 (perUser ? ": too many connections from uid " + uid + " (limit 2)."
                                          : ": too many connections (limit 2).")});
    // A place frees up when a client leaves.
    { RawClient leaving = std::move(second); }
    waitUntil([&] { return server.connectionCount() <= 1; });
    RawClient fourth(path);
    EXPECT_TRUE(fourth.accepted());
    EXPECT_EQ(versionReply(fourth, 3), "1.0.1");
  }
}

// Accepts or refuses every client, and prefers its user or not.
class Gatekeeper final : public ListenerDelegate {
 public:
  Gatekeeper(HelperProtocol& implementation, bool accepts, bool prefers)
      : exported_(exportedHelper(implementation)), accepts_(accepts), prefers_(prefers) {}

  bool shouldAcceptNewConnection(IncomingConnection& connection) override {
    ++checks;
    if (!accepts_) return false;
    connection.setExportedObject(exported_);
    connection.resume();
    return true;
  }
  bool isPreferredUser(uid_t /*uid*/) override { return prefers_; }

  std::atomic<int> checks{0};

 private:
  std::shared_ptr<ExportedObject> exported_;
  bool accepts_;
  bool prefers_;
};

TEST_F(ListenerTest, RefusedUsersArePausedAndUsersWhoMayNotChangeTheFansShareFewerSlots) {
  const auto uid = std::to_string(::getuid());
  {
    Gatekeeper refuser(fake, false, true);
    ListenerOptions options;
    options.refusals = {.maxRefusals = 3, .window = 60s, .pause = 60s};
    auto listener = Listener::atPath(path, refuser, options);
    std::thread serving([&] { listener->run(); });
    // The third refusal starts the pause; the rest are closed without a check or a line.
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(RawClient(path).closedByPeer());
    EXPECT_EQ(refuser.checks, 3);
    EXPECT_EQ(capture.linesStartingWith("[ZephroHelper] Too many"),
              std::vector<std::string>{"[ZephroHelper] Too many refused connections from uid " +
                                       uid + "; closing its connections for 60 s."});
    listener->stop();
    serving.join();
  }
  Gatekeeper stranger(fake, true, false);
  ListenerOptions options;
  options.maxConnectionsOfOthers = 2;
  auto listener = Listener::atPath(path, stranger, options);
  std::thread serving([&] { listener->run(); });
  RawClient first(path), second(path), third(path);
  EXPECT_TRUE(first.accepted());
  EXPECT_TRUE(second.accepted());
  EXPECT_TRUE(third.closedByPeer());
  EXPECT_EQ(capture.linesStartingWith("[ZephroHelper] Rejected"),
            std::vector<std::string>{"[ZephroHelper] Rejected connection from pid " +
                                     std::to_string(::getpid()) +
                                     ": too many connections from users who may not change the "
                                     "fans (limit 2)."});
  listener->stop();
  serving.join();
}

TEST(RefusalLimiter, PausesOnlyForRefusalsWithinTheWindowAndForgetsTheOldestUser) {
  using Clock = RefusalLimiter::Clock;
  RefusalLimiter limiter({.maxRefusals = 3, .window = 10s, .pause = 30s, .maxUsers = 2});
  const Clock::time_point t0;
  // Two refusals, then the window passes: the count starts again.
  EXPECT_FALSE(limiter.refused(1, t0));
  EXPECT_FALSE(limiter.refused(1, t0 + 5s));
  EXPECT_FALSE(limiter.refused(1, t0 + 11s));
  EXPECT_FALSE(limiter.refused(1, t0 + 12s));
  EXPECT_TRUE(limiter.admits(1, t0 + 12s));
  EXPECT_TRUE(limiter.refused(1, t0 + 13s));
  EXPECT_FALSE(limiter.admits(1, t0 + 13s));
  EXPECT_FALSE(limiter.admits(1, t0 + 42s));
  EXPECT_TRUE(limiter.admits(1, t0 + 43s));
  // Other users are not affected, and a full table forgets the quietest user first.
  EXPECT_TRUE(limiter.admits(2, t0 + 13s));
  EXPECT_FALSE(limiter.refused(2, t0 + 14s));
  EXPECT_FALSE(limiter.refused(3, t0 + 15s));
  EXPECT_FALSE(limiter.admits(1, t0 + 15s));
}

TEST_F(ListenerTest, EveryInvocationIsAnsweredOnceEvenWhenTheServiceRepliesTwice) {
  fake.fans = {FanInfoDTO(0, 1, 2, 3, FanMode::system)};
  fake.answerTwice = true;
  InProcessHelperServer server(path, fake);
  RawClient client(path);
  ASSERT_TRUE(client.accepted());
  client.invoke(1, "getFanInfoWithReply:", json::array());
  const auto reply = client.receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(archive::decodeFanInfoArray(reply->arguments.at(0),
                                        {archive::kArrayClass, archive::kFanInfoClass}),
            fake.fans);
  // The next frame is the answer to the next call, not a second answer to the first.
  EXPECT_EQ(versionReply(client, 2), "1.0.1");
}

template <typename T>
T await(std::future<T>& future) {
  if (future.wait_for(kWait) != std::future_status::ready) {
    ADD_FAILURE() << "no answer";
    throw std::runtime_error("no answer");
  }
  return future.get();
}

struct Client {
  explicit Client(const std::string& path) : connection(xpc::Connection::toSocketPath(path)) {
    connection->setInvalidationHandler([this] { invalidated.set_value(); });
    connection->setInterruptionHandler([this] { ++interruptions; });
    connection->resume();
    proxy = remoteHelperProxy(connection, [this](const Error& error) {
      std::lock_guard lock(mutex);
      if (errorPromise) errorPromise->set_value(error);
    });
  }

  // The transport error the next failing call reports.
  std::future<Error> expectError() {
    std::lock_guard lock(mutex);
    errorPromise.emplace();
    return errorPromise->get_future();
  }

  std::shared_ptr<xpc::Connection> connection;
  std::shared_ptr<HelperProtocol> proxy;
  std::promise<void> invalidated;
  std::atomic<int> interruptions{0};
  std::mutex mutex;
  std::optional<std::promise<Error>> errorPromise;
};

std::string versionOf(HelperProtocol& helper) {
  std::promise<std::string> promise;
  auto future = promise.get_future();
  helper.getVersion([&](std::string version) { promise.set_value(std::move(version)); });
  return await(future);
}

// Until the silent helper holds the call: the connection was accepted and the call
// delivered (a connection that closes before its acceptance reads as refused instead).
void waitForTheHeldCall(const FakeHelper& helper) {
  waitUntil([&] { return helper.keptCount() > 0; });
}

// Every operation and its errors cross the socket in the HelperClient tests (tests/app/core).
TEST(RemoteHelper, NoServiceInvalidatesTheConnectionAndFailsEveryCall) {
  TempDir dir;
  Client client((dir / "nobody.sock").string());
  auto error = client.expectError();
  client.proxy->getVersion([](const std::string&) { ADD_FAILURE() << "reply without a service"; });
  const auto transport = await(error);
  EXPECT_EQ(transport.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(transport.code, 4099);
  auto invalidated = client.invalidated.get_future();
  EXPECT_EQ(invalidated.wait_for(kWait), std::future_status::ready);

  // Later calls on the invalid connection fail the same way.
  auto again = client.expectError();
  client.proxy->getFanInfo([](auto, auto) { ADD_FAILURE() << "reply on an invalid connection"; });
  EXPECT_EQ(await(again).code, 4099);
}

TEST(RemoteHelper, AHelperThatGoesAwayInterruptsAndTheNextCallReconnects) {
  TempDir dir;
  const auto path = (dir / "helper.sock").string();
  FakeHelper silent;
  silent.answer = false;
  Client client(path);
  auto error = client.expectError();
  {
    InProcessHelperServer server(path, silent);
    client.proxy->getVersion(
        [](const std::string&) { ADD_FAILURE() << "a silent helper answered"; });
    // The call is outstanding when the helper stops.
    waitForTheHeldCall(silent);
  }  // the helper goes away
  const auto interrupted = await(error);
  EXPECT_EQ(interrupted.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(interrupted.code, 4097);
  FakeHelper answering;
  InProcessHelperServer restarted(path, answering);
  EXPECT_EQ(versionOf(*client.proxy), "1.0.1");
  EXPECT_EQ(client.interruptions, 1);
}

TEST(RemoteHelper, InvalidatingFailsOutstandingCallsOnce) {
  TempDir dir;
  FakeHelper silent;
  silent.answer = false;
  InProcessHelperServer server((dir / "helper.sock").string(), silent);
  Client client((dir / "helper.sock").string());
  auto error = client.expectError();
  client.proxy->getFanInfo([](auto, auto) { ADD_FAILURE() << "a silent helper answered"; });
  waitForTheHeldCall(silent);
  client.connection->invalidate();
  EXPECT_EQ(await(error).code, 4099);
  EXPECT_EQ(client.invalidated.get_future().wait_for(kWait), std::future_status::ready);
  // The kept reply arriving now reaches nobody.
  silent.answerKept();
}

}  // namespace
}  // namespace zephro::xpc
