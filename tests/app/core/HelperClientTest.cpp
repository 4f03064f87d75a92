#include "app/core/HelperClient.h"

#include <gtest/gtest.h>

#include <QThread>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <nlohmann/json.hpp>

#include "app/core/HelperInstallError.h"
#include "app/core/RemoteError.h"
#include "app/core/TimerThread.h"
#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/ScriptedHelper.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using testing::awaitTask;
using testing::ScriptedHelper;
using testing::spinUntil;

const Error kSmcError =
    Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC.");

// A client on a temp socket that counts the connections it makes.
struct ClientOnSocket {
  explicit ClientOnSocket(std::chrono::milliseconds callTimeout = 15s,
                          std::chrono::milliseconds versionTimeout = 3s)
      : socket((dir / "helper.sock").string()) {
    HelperClientOptions options;
    options.connectionFactory = [this] {
      ++connectionsMade;
      return xpc::Connection::toSocketPath(socket);
    };
    options.callTimeout = callTimeout;
    options.versionTimeout = versionTimeout;
    client = std::make_unique<HelperClient>(std::move(options));
  }

  zephro::testing::TempDir dir;
  std::string socket;
  std::atomic<int> connectionsMade{0};
  std::unique_ptr<HelperClient> client;
};

TEST(HelperClient, AnswersEachOperationFromTheHelper) {
  ClientOnSocket c;
  ScriptedHelper helper;
  helper.fans = {FanInfoDTO(0, 2317, 2317, 6550, FanMode::manual),
                 FanInfoDTO(1, 2400.5, 2160, 5940, FanMode::manual)};
  helper.celsius = 47.25;
  InProcessHelperServer server(c.socket, helper);
  log::Capture capture;

  const auto fans = awaitTask(c.client->fetchFanInfo());
  ASSERT_TRUE(fans.succeeded()) << fans.errorText();
  EXPECT_EQ(*fans.value, helper.fans);
  const auto celsius = awaitTask(c.client->fetchSystemTemperature());
  ASSERT_TRUE(celsius.succeeded()) << celsius.errorText();
  EXPECT_EQ(*celsius.value, 47.25);

  // System mode goes with no percentages at all: the empty list passes the allow-list.
  ASSERT_TRUE(awaitTask(c.client->setMode(FanMode::manual, {40, 60})).succeeded());
  const auto system = awaitTask(c.client->setMode(FanMode::system, {}));
  ASSERT_TRUE(system.succeeded()) << system.errorText();
  const auto calls = helper.recordedSetModeCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].mode, 1);
  EXPECT_EQ(calls[0].percentages, (std::vector<std::int64_t>{40, 60}));
  EXPECT_EQ(calls[1].mode, 0);
  EXPECT_TRUE(calls[1].percentages.empty());

  EXPECT_EQ(c.connectionsMade, 1) << "every call shares the one connection";
  EXPECT_TRUE(capture.lines().empty());
}

TEST(HelperClient, ErrorsInTheHelpersRepliesAreThrownAndLoggedWhereDue) {
  ClientOnSocket c;
  ScriptedHelper helper;
  // An error wins over the fans that came with it.
  helper.fans = {FanInfoDTO(0, 2317, 2317, 6550, FanMode::system)};
  helper.fanError = Error::withDescription("HelperError", 0, "fanCount is 0");
  helper.temperatureError = kSmcError;
  helper.setModeError = kSmcError;
  InProcessHelperServer server(c.socket, helper);
  log::Capture capture;

  const auto fans = awaitTask(c.client->fetchFanInfo());
  ASSERT_TRUE(fans.errorAs<RemoteError>());
  EXPECT_EQ(fans.errorAs<RemoteError>()->error(), *helper.fanError);
  EXPECT_EQ(fans.errorText(), "fanCount is 0");
  const auto celsius = awaitTask(c.client->fetchSystemTemperature());
  ASSERT_TRUE(celsius.errorAs<RemoteError>());
  EXPECT_EQ(celsius.errorAs<RemoteError>()->error(), kSmcError);
  const auto mode = awaitTask(c.client->setMode(FanMode::max, {}));
  ASSERT_TRUE(mode.errorAs<RemoteError>());
  EXPECT_EQ(mode.errorAs<RemoteError>()->error(), kSmcError);

  EXPECT_EQ(
      capture.lines(),
      (Lines{"[Zephro] Helper returned error: Error Domain=HelperError Code=0 \"fanCount is 0\" "
             "UserInfo={NSLocalizedDescription=fanCount is 0}",
             "[Zephro] Helper returned error: Error Domain=SMCErrorDomain Code=1 \"Could not "
             "open connection to AppleSMC.\" UserInfo={NSLocalizedDescription=Could not open "
             "connection to AppleSMC.}"}));
}

TEST(HelperClient, AMissingHelperFailsAtOnceAndOnlyTheReadsLog) {
  ClientOnSocket c;  // nothing listens on the socket
  log::Capture capture;

  const auto fans = awaitTask(c.client->fetchFanInfo());
  const auto transport = fans.errorAs<RemoteError>();
  ASSERT_TRUE(transport) << fans.errorText();
  EXPECT_EQ(transport->error().domain, xpc::kTransportErrorDomain);
  EXPECT_EQ(transport->error().code, xpc::kConnectionInvalid);
  const auto celsius = awaitTask(c.client->fetchSystemTemperature());
  ASSERT_TRUE(celsius.errorAs<RemoteError>());
  const auto version = awaitTask(c.client->fetchHelperVersion());
  ASSERT_TRUE(version.errorAs<RemoteError>());
  const auto mode = awaitTask(c.client->setMode(FanMode::system, {}));
  ASSERT_TRUE(mode.errorAs<RemoteError>());

  // Only the two reads log, each with the error's full description.
  EXPECT_EQ(capture.lines(),
            (Lines{"[Zephro] XPC Error in fetchFanInfo: " + transport->error().fullDescription(),
                   "[Zephro] XPC Error in fetchSystemTemperature: " +
                       celsius.errorAs<RemoteError>()->error().fullDescription()}));
}

TEST(HelperClient, ASilentHelperTimesOutWithoutBlockingAndTheNextCallConnectsAfresh) {
  ClientOnSocket c(300ms, 200ms);
  ScriptedHelper helper;
  helper.fanError = kSmcError;
  helper.hold();
  InProcessHelperServer server(c.socket, helper);
  log::Capture capture;

  // The ticker runs only while awaitTask turns the loop for the outstanding call: a call
  // that blocked the main thread would let at most one (coalesced) tick through.
  int resumptions = 0;
  int ticksWhilePending = 0;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticksWhilePending; });
  ticker.start();
  const auto fans =
      awaitTask([](HelperClient& client, int& resumptions) -> QCoro::Task<std::vector<FanInfoDTO>> {
        try {
          auto result = co_await client.fetchFanInfo();
          ++resumptions;
          co_return result;
        } catch (...) {
          ++resumptions;
          throw;
        }
      }(*c.client, resumptions));
  ticker.stop();
  EXPECT_GE(ticksWhilePending, 5) << "the event loop must keep turning while the helper is silent";
  const auto unavailable = fans.errorAs<HelperInstallError>();
  ASSERT_TRUE(unavailable) << fans.errorText();
  EXPECT_EQ(unavailable->kind(), HelperInstallError::Kind::unavailable);
  EXPECT_EQ(fans.errorText(), "The helper did not respond.");
  // The helper answers a connection's calls in turn, so the stuck one goes and the next
  // call does not queue behind it.
  ASSERT_TRUE(spinUntil([&] { return !c.client->hasConnection(); }));
  const auto version = awaitTask(c.client->fetchHelperVersion());
  EXPECT_EQ(version.errorText(), "The helper did not respond.");
  EXPECT_EQ(c.connectionsMade, 2);
  ASSERT_TRUE(spinUntil([&] { return !c.client->hasConnection(); }));

  // Late answers go to connections that are gone: no caller hears of them, nothing logs.
  ASSERT_TRUE(spinUntil([&] { return helper.heldCount() == 2; }));
  helper.releaseHeld();
  const auto celsius = awaitTask(c.client->fetchSystemTemperature());
  ASSERT_TRUE(celsius.succeeded()) << celsius.errorText();
  EXPECT_EQ(c.connectionsMade, 3);
  EXPECT_EQ(resumptions, 1);
  EXPECT_TRUE(capture.lines().empty()) << "a time-out logs nothing";
}

TEST(HelperClient, AnUnansweredCallEndsTheOtherCallsOnItsConnectionTheSameWay) {
  ClientOnSocket c(10min, 100ms);
  ScriptedHelper helper;
  helper.hold();
  InProcessHelperServer server(c.socket, helper);
  log::Capture capture;

  auto fans = c.client->fetchFanInfo();
  EXPECT_EQ(awaitTask(c.client->fetchHelperVersion()).errorText(), "The helper did not respond.");
  // Long before its own time-out, and without a transport error line.
  const auto dropped = awaitTask(std::move(fans), 60s);
  ASSERT_TRUE(dropped.finished);
  EXPECT_EQ(dropped.errorText(), "The helper did not respond.");
  EXPECT_TRUE(capture.lines().empty());
  helper.releaseHeld();
}

// A connection whose calls stay unanswered and that tells them of its end only when the
// test says so: how a call's time-out finds its connection when the time-out fires just
// after the connection was replaced, a race the real connection cannot be made to show.
class UnansweringConnection final : public xpc::Connection {
 public:
  void setInvalidationHandler(Handler handler) override {
    const std::lock_guard lock(mutex_);
    onInvalidated_ = std::move(handler);
  }
  void setInterruptionHandler(Handler /*handler*/) override {}
  void resume() override {}
  void invalidate() override {
    invalidated = true;
    Handler handler;
    {
      const std::lock_guard lock(mutex_);
      handler = std::exchange(onInvalidated_, {});
    }
    if (handler) handler();
  }
  void send(std::string /*selector*/, nlohmann::json /*arguments*/, ReplyHandler /*reply*/,
            ErrorHandler error) override {
    const std::lock_guard lock(mutex_);
    errors_.push_back(std::move(error));
  }
  void failCalls() {
    std::vector<ErrorHandler> errors;
    {
      const std::lock_guard lock(mutex_);
      errors.swap(errors_);
    }
    for (auto& error : errors) {
      error(xpc::transportError(xpc::kConnectionInvalid, kHelperServiceName, "invalidated"));
    }
  }

  std::atomic<bool> invalidated{false};

 private:
  std::mutex mutex_;
  Handler onInvalidated_;
  std::vector<ErrorHandler> errors_;
};

TEST(HelperClient, ATimeOutOnAReplacedConnectionLeavesTheNewOneAlone) {
  std::vector<std::shared_ptr<UnansweringConnection>> made;
  HelperClientOptions options;
  options.connectionFactory = [&made] {
    made.push_back(std::make_shared<UnansweringConnection>());
    return made.back();
  };
  options.callTimeout = 100ms;
  options.versionTimeout = 10min;
  HelperClient client(std::move(options));

  auto fans = client.fetchFanInfo();
  client.invalidateConnection();
  auto version = client.fetchHelperVersion();
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(awaitTask(std::move(fans)).errorText(), "The helper did not respond.");
  // The timer thread runs one item at a time: once a later item has run, so has all of
  // the time-out's work.
  std::atomic<bool> timerPassed{false};
  TimerThread::shared().schedule(0ms, [&timerPassed] { timerPassed = true; });
  ASSERT_TRUE(spinUntil([&] { return timerPassed.load(); }));
  EXPECT_TRUE(client.hasConnection());
  EXPECT_FALSE(made[1]->invalidated);

  for (const auto& connection : made) connection->failCalls();
  EXPECT_TRUE(awaitTask(std::move(version)).errorAs<RemoteError>());
}

// Thousands of replies racing their time-outs through the real connection: every caller
// is resumed exactly once, on the main thread, with the value, "did not respond", or a
// transport error (each time-out drops its connection, and the helper may refuse the
// quick reconnections that follow).
TEST(HelperClient, RepliesRacingTimeOutsResumeEachCallerOnce) {
  constexpr int kCalls = 2000;
  ClientOnSocket c(2ms);
  ScriptedHelper helper;
  helper.celsius = 51.5;
  helper.answerAfterRandomDelays(4ms);
  InProcessHelperServer server(c.socket, helper);

  struct Tally {
    std::vector<int> resumed = std::vector<int>(kCalls, 0);
    int values = 0;
    int timeouts = 0;
    int transportErrors = 0;
    int other = 0;
    int offMainThread = 0;
  };
  auto tally = std::make_shared<Tally>();
  const auto call = [](HelperClient& client, std::shared_ptr<Tally> tally, int i) -> QCoro::Task<> {
    try {
      const double celsius = co_await client.fetchSystemTemperature();
      celsius == 51.5 ? ++tally->values : ++tally->other;
    } catch (const HelperInstallError&) {
      ++tally->timeouts;
    } catch (const RemoteError&) {
      ++tally->transportErrors;
    } catch (...) {
      ++tally->other;
    }
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++tally->offMainThread;
    ++tally->resumed[i];
  };
  for (int i = 0; i < kCalls; ++i) detach(call(*c.client, tally, i), "race call");
  const auto ended = [&tally] {
    return tally->values + tally->timeouts + tally->transportErrors + tally->other;
  };
  ASSERT_TRUE(spinUntil([&] { return ended() >= kCalls; }));
  // Late replies may still be arriving: give them the chance to misbehave.
  spinUntil([] { return false; }, 100ms);

  EXPECT_EQ(ended(), kCalls);
  EXPECT_EQ(tally->other, 0);
  EXPECT_EQ(tally->offMainThread, 0);
  for (int i = 0; i < kCalls; ++i) ASSERT_EQ(tally->resumed[i], 1) << "call " << i;
}

}  // namespace
}  // namespace zephro
