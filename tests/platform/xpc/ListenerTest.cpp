#include "platform/xpc/Listener.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <future>

#include "platform/log/Log.h"
#include "platform/xpc/Message.h"
#include "protocol/KeyedArchive.h"
#include "protocol/remote/HelperInterface.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "protocol/remote/RemoteHelper.h"
#include "tests/support/ScriptedHelper.h"
#include "tests/support/TempDir.h"

namespace zephro::xpc {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ScriptedHelper;
using Lines = std::vector<std::string>;

constexpr auto kWait = 60s;

void waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
}

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

  // The next message, or nothing when the helper closed the connection.
  std::optional<Message> receive() {
    for (;;) {
      if (auto payload = decoder_.next()) return Message::fromCbor(*payload);
      pollfd entry{fd_.get(), POLLIN, 0};
      if (::poll(&entry, 1, std::chrono::milliseconds(kWait).count()) <= 0) {
        ADD_FAILURE() << "the helper neither answered nor closed";
        return std::nullopt;
      }
      std::uint8_t buffer[4096];
      const auto got = ::read(fd_.get(), buffer, sizeof(buffer));
      if (got <= 0) return std::nullopt;
      decoder_.feed({buffer, static_cast<std::size_t>(got)});
    }
  }

  // Reads past the "accepted" greeting.
  bool accepted() { return receive().value_or(Message{}).kind == Message::Kind::accepted; }
  bool closedByPeer() { return !receive().has_value(); }

  std::string version(std::uint64_t id) {
    sendBytes(encodeFrame(Message::invoke(id, "getVersionWithReply:", json::array()).toCbor()));
    const auto reply = receive();
    if (!reply) return "<closed>";
    EXPECT_EQ(reply->kind, Message::Kind::reply);
    EXPECT_EQ(reply->id, id);
    return archive::decodeString(reply->arguments.at(0));
  }

 private:
  FileDescriptor fd_;
  FrameDecoder decoder_;
};

// Can keep the first client in its check until the test lets it go.
struct TestDelegate final : ListenerDelegate {
  TestDelegate(HelperProtocol& implementation, bool accepts, bool prefers, bool holdFirst = false)
      : exported(exportedHelper(implementation)),
        accepts(accepts),
        prefers(prefers),
        released(!holdFirst) {}

  bool shouldAcceptNewConnection(IncomingConnection& connection) override {
    std::unique_lock lock(mutex);
    if (checks++ == 0) changed.wait(lock, [this] { return released; });
    if (accepts) connection.setExportedObject(exported), connection.resume();
    return accepts;
  }
  bool isPreferredUser(uid_t /*uid*/) override { return prefers; }
  void release() {
    const std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }

  std::shared_ptr<ExportedObject> exported;
  const bool accepts, prefers;
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<int> checks = 0;
  bool released;
};

struct ListenerTest : ::testing::Test {
  Lines waitForLines(const std::string& prefix, std::size_t count = 1) {
    waitUntil([&] { return capture.linesStartingWith(prefix).size() >= count; });
    return capture.linesStartingWith(prefix);
  }
  // A listener with the delegate, served on a thread of its own until the test ends.
  void serve(ListenerDelegate& delegate, ListenerOptions options = {}) {
    listener = Listener::atPath(path, delegate, options);
    serving = std::thread([this] { listener->run(); });
  }
  void TearDown() override {
    if (listener) listener->stop();
    if (serving.joinable()) serving.join();
    listener = nullptr;
  }

  testing::TempDir dir;
  std::string path = (dir / "helper.sock").string();
  ScriptedHelper helper;
  log::Capture capture;
  const std::string pid = std::to_string(::getpid());
  std::unique_ptr<Listener> listener;
  std::thread serving;
};

TEST_F(ListenerTest, BrokenMessagesInvalidateOnlyTheirOwnConnection) {
  ListenerOptions options;
  options.partialFrameTimeout = 300ms;
  InProcessHelperServer server(path, helper, options);
  RawClient bystander(path);
  ASSERT_TRUE(bystander.accepted());

  using Bytes = std::vector<std::uint8_t>;
  const auto frame = [](const Bytes& payload) { return encodeFrame(payload); };
  const auto message = [](const Message& m) { return encodeFrame(m.toCbor()); };
  const auto version = message(Message::invoke(1, "getVersionWithReply:", json::array()));
  const Bytes half(version.begin(), version.begin() + 6);
  const struct {
    Bytes bytes;
    std::string reason;
    bool leaves = false;  // the client closes its end after sending
  } cases[] = {
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
      {half, "no complete frame within 300 ms"},
      {half, "connection closed in the middle of a frame", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    capture.clear();
    {
      RawClient offender(path);
      ASSERT_TRUE(offender.accepted());
      offender.sendBytes(c.bytes);
      EXPECT_TRUE(c.leaves || offender.closedByPeer());
    }
    EXPECT_EQ(
        waitForLines("[ZephroHelper] Invalidated"),
        Lines{"[ZephroHelper] Invalidated connection from pid " + pid + ": " + c.reason + "."});
    EXPECT_EQ(bystander.version(7), "1.0.1");
  }
  // Nothing reached the service from any of them.
  EXPECT_TRUE(helper.recordedSetModeCalls().empty());
}

TEST_F(ListenerTest, ASlowCheckDelaysNoOtherClientAndIdleConnectionsClose) {
  TestDelegate delegate(helper, true, true, true);
  ListenerOptions options;
  options.idleTimeout = 300ms;
  serve(delegate, options);

  RawClient slow(path);
  waitUntil([&] { return delegate.checks > 0; });
  RawClient quick(path);
  ASSERT_TRUE(quick.accepted());
  EXPECT_EQ(quick.version(1), "1.0.1");
  delegate.release();
  EXPECT_TRUE(slow.accepted());

  // Neither sends another frame.
  EXPECT_TRUE(quick.closedByPeer());
  EXPECT_TRUE(slow.closedByPeer());
  const auto idle = "[ZephroHelper] Closed idle connection from pid " + pid + ".";
  EXPECT_EQ(waitForLines("[ZephroHelper] Closed", 2), (Lines{idle, idle}));
}

TEST_F(ListenerTest, ConnectionsAreCappedPerUserAndInTotal) {
  const auto uid = std::to_string(::getuid());
  for (const bool perUser : {true, false}) {
    SCOPED_TRACE(perUser ? "per user" : "in total");
    capture.clear();
    ListenerOptions options;
    (perUser ? options.maxConnectionsPerUser : options.maxConnections) = 2;
    InProcessHelperServer server(path, helper, options);
    RawClient first(path), second(path);
    ASSERT_TRUE(first.accepted());
    ASSERT_TRUE(second.accepted());
    EXPECT_TRUE(RawClient(path).closedByPeer());
    EXPECT_EQ(capture.linesStartingWith("[ZephroHelper] Rejected"),
              Lines{"[ZephroHelper] Rejected connection from pid " + pid +
                    (perUser ? ": too many connections from uid " + uid + " (limit 2)."
                             : ": too many connections (limit 2).")});
    // A place frees up when a client leaves.
    { RawClient leaving = std::move(second); }
    waitUntil([&] { return server.connectionCount() <= 1; });
    EXPECT_TRUE(RawClient(path).accepted());
  }
}

TEST_F(ListenerTest, RefusedUsersArePausedAndUsersWhoMayNotChangeTheFansShareFewerSlots) {
  TestDelegate refuser(helper, false, true);
  ListenerOptions pausing;
  pausing.refusals = {.maxRefusals = 3, .window = 60s, .pause = 60s};
  serve(refuser, pausing);
  // The third refusal starts the pause; the rest are closed without a check or a line.
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(RawClient(path).closedByPeer());
  EXPECT_EQ(refuser.checks, 3);
  EXPECT_EQ(capture.linesStartingWith("[ZephroHelper] Too many"),
            Lines{"[ZephroHelper] Too many refused connections from uid " +
                  std::to_string(::getuid()) + "; closing its connections for 60 s."});
  TearDown();

  TestDelegate stranger(helper, true, false);
  ListenerOptions options;
  options.maxConnectionsOfOthers = 2;
  serve(stranger, options);
  RawClient first(path), second(path), third(path);
  EXPECT_TRUE(first.accepted());
  EXPECT_TRUE(second.accepted());
  EXPECT_TRUE(third.closedByPeer());
  EXPECT_EQ(capture.linesStartingWith("[ZephroHelper] Rejected"),
            Lines{"[ZephroHelper] Rejected connection from pid " + pid +
                  ": too many connections from users who may not change the fans (limit 2)."});
}

TEST(RefusalLimiter, PausesOnlyForRefusalsWithinTheWindowAndForgetsTheOldestUser) {
  RefusalLimiter limiter({.maxRefusals = 3, .window = 10s, .pause = 30s, .maxUsers = 2});
  // Other users are not affected, and a full table forgets the quietest user first.
  const struct {
    bool refusal;
    uid_t uid;
    std::chrono::seconds at;
    bool answer;
  } steps[] = {{true, 1, 0s, false},   {true, 1, 5s, false},   {true, 1, 11s, false},
               {true, 1, 12s, false},  {false, 1, 12s, true},  {true, 1, 13s, true},
               {false, 1, 13s, false}, {false, 1, 42s, false}, {false, 1, 43s, true},
               {false, 2, 13s, true},  {true, 2, 14s, false},  {true, 3, 15s, false},
               {false, 1, 15s, false}};
  for (const auto& step : steps) {
    const RefusalLimiter::Clock::time_point at(step.at);
    EXPECT_EQ(step.refusal ? limiter.refused(step.uid, at) : limiter.admits(step.uid, at),
              step.answer)
        << step.uid << " at " << step.at.count();
  }
}

struct AnswersTwice final : HelperProtocol {
  void getFanInfo(FanInfoReply reply) override {
    reply(fans, std::nullopt);
    reply({}, std::nullopt);
  }
  void getSystemTemperature(TemperatureReply reply) override { reply(0, std::nullopt); }
  void setFanMode(std::int64_t, std::vector<std::int64_t>, SetFanModeReply reply) override {
    reply(std::nullopt);
  }
  void getVersion(VersionReply reply) override { reply(kHelperProtocolVersion); }
  std::vector<FanInfoDTO> fans{FanInfoDTO(0, 1, 2, 3, FanMode::system)};
};

TEST_F(ListenerTest, EveryInvocationIsAnsweredOnceEvenWhenTheServiceRepliesTwice) {
  AnswersTwice twice;
  InProcessHelperServer server(path, twice);
  RawClient client(path);
  ASSERT_TRUE(client.accepted());
  client.sendBytes(encodeFrame(Message::invoke(1, "getFanInfoWithReply:", json::array()).toCbor()));
  const auto reply = client.receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(archive::decodeFanInfoArray(reply->arguments.at(0),
                                        {archive::kArrayClass, archive::kFanInfoClass}),
            twice.fans);
  // The next frame is the answer to the next call, not a second answer to the first.
  EXPECT_EQ(client.version(2), "1.0.1");
}

template <typename T>
T await(std::future<T>& future) {
  if (future.wait_for(kWait) != std::future_status::ready) throw std::runtime_error("no answer");
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

// Every operation and its errors cross the socket in the HelperClient tests (tests/app/core).
using RemoteHelper = ListenerTest;

TEST_F(RemoteHelper, InvalidatingFailsEveryOutstandingAndLaterCallOnce) {
  helper.hold();
  InProcessHelperServer server(path, helper);
  Client client(path);
  auto error = client.expectError();
  client.proxy->getFanInfo([](auto, auto) { ADD_FAILURE() << "a reply without an answer"; });
  waitUntil([&] { return helper.heldCount() > 0; });
  client.connection->invalidate();
  const auto transport = await(error);
  EXPECT_EQ(transport.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(transport.code, 4099);
  EXPECT_EQ(client.invalidated.get_future().wait_for(kWait), std::future_status::ready);
  auto again = client.expectError();
  client.proxy->getVersion([](const std::string&) { ADD_FAILURE() << "reply when invalid"; });
  EXPECT_EQ(await(again).code, 4099);
  // The held reply arriving now reaches nobody.
  helper.releaseHeld();
}

TEST_F(RemoteHelper, AHelperThatGoesAwayInterruptsAndTheNextCallReconnects) {
  helper.hold();
  Client client(path);
  auto error = client.expectError();
  {
    InProcessHelperServer server(path, helper);
    client.proxy->getVersion(
        [](const std::string&) { ADD_FAILURE() << "a silent helper answered"; });
    // Outstanding when the helper stops: closed before acceptance would read as refused.
    waitUntil([&] { return helper.heldCount() > 0; });
  }
  const auto interrupted = await(error);
  EXPECT_EQ(interrupted.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(interrupted.code, 4097);
  ScriptedHelper answering;
  InProcessHelperServer restarted(path, answering);
  std::promise<std::string> version;
  auto answered = version.get_future();
  client.proxy->getVersion([&](std::string text) { version.set_value(std::move(text)); });
  EXPECT_EQ(await(answered), "1.0.1");
  EXPECT_EQ(client.interruptions, 1);
}

}  // namespace
}  // namespace zephro::xpc
