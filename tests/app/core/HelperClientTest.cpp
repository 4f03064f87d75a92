#include "app/core/HelperClient.h"

#include <gtest/gtest.h>

#include <QThread>
#include <QTimer>
#include <atomic>
#include <nlohmann/json.hpp>

#include "app/core/HelperInstallError.h"
#include "app/core/RemoteError.h"
#include "app/core/TimerThread.h"
#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/support/ScriptedHelper.h"
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

// The helper of a machine without fans answers "fanCount is 0" with no fans: that is an
// empty list. A negative count is a controller that could not be read.
TEST(HelperClient, AMachineWithoutFansHasAnEmptyFanList) {
  ClientOnSocket c;
  ScriptedHelper helper;
  helper.fanError = Error::withDescription("HelperError", 0, "fanCount is 0");
  InProcessHelperServer server(c.socket, helper);
  log::Capture capture;
  const auto none = awaitTask(c.client->fetchFanInfo());
  ASSERT_TRUE(none.succeeded());
  EXPECT_TRUE(none.value->empty());
  EXPECT_TRUE(capture.lines().empty());

  helper.fanError = Error::withDescription("HelperError", -2, "fanCount is -2");
  EXPECT_EQ(awaitTask(c.client->fetchFanInfo()).errorText(), "fanCount is -2");
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

// The helper answers a connection's calls in turn, so a call it leaves unanswered takes
// its connection with it: the other calls on it end the same way, later ones connect anew.
TEST(HelperClient, ASilentHelperTimesOutWithoutBlockingAndTheNextCallConnectsAfresh) {
  ClientOnSocket c(10min, 200ms);
  ScriptedHelper helper;
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
  auto fans = c.client->fetchFanInfo();
  ticker.start();
  const auto version =
      awaitTask([](HelperClient& client, int& resumptions) -> QCoro::Task<std::string> {
        try {
          auto result = co_await client.fetchHelperVersion();
          ++resumptions;
          co_return result;
        } catch (...) {
          ++resumptions;
          throw;
        }
      }(*c.client, resumptions));
  ticker.stop();
  EXPECT_GE(ticksWhilePending, 5) << "the event loop must keep turning while the helper is silent";
  const auto unavailable = version.errorAs<HelperInstallError>();
  ASSERT_TRUE(unavailable) << version.errorText();
  EXPECT_EQ(unavailable->kind(), HelperInstallError::Kind::unavailable);
  EXPECT_EQ(version.errorText(), "The helper did not respond.");
  // Long before its own time-out, and not as a transport error.
  const auto dropped = awaitTask(std::move(fans), 60s);
  ASSERT_TRUE(dropped.finished);
  EXPECT_EQ(dropped.errorText(), "The helper did not respond.");
  ASSERT_TRUE(spinUntil([&] { return !c.client->hasConnection(); }));

  // The late answers go to a connection that is gone; the next call makes a new one.
  ASSERT_TRUE(spinUntil([&] { return helper.heldCount() == 2; }));
  helper.releaseHeld();
  ASSERT_TRUE(awaitTask(c.client->fetchSystemTemperature()).succeeded());
  EXPECT_EQ(c.connectionsMade, 2);
  EXPECT_EQ(resumptions, 1);
  EXPECT_TRUE(capture.lines().empty()) << "a time-out logs nothing";
}

// Never answers, and tells its calls of its end only when the test says so, as a real
// connection does a moment after it is invalidated: the window in which a time-out finds
// its connection already replaced, which the real one cannot be made to hold open.
class UnansweringConnection final : public xpc::Connection {
 public:
  void setInvalidationHandler(Handler /*handler*/) override {}
  void setInterruptionHandler(Handler /*handler*/) override {}
  void resume() override {}
  void invalidate() override { invalidated = true; }
  void send(std::string /*selector*/, nlohmann::json /*arguments*/, ReplyHandler /*reply*/,
            ErrorHandler error) override {
    errors.push_back(std::move(error));
  }

  std::atomic<bool> invalidated{false};
  std::vector<ErrorHandler> errors;
};

TEST(HelperClient, ATimeOutOnAReplacedConnectionLeavesTheNewOneAlone) {
  std::vector<std::shared_ptr<UnansweringConnection>> made;
  HelperClientOptions options;
  options.connectionFactory = [&made] {
    return made.emplace_back(std::make_shared<UnansweringConnection>());
  };
  options.callTimeout = 100ms;
  options.versionTimeout = 10min;
  HelperClient client(std::move(options));

  auto fans = client.fetchFanInfo();
  client.invalidateConnection();
  auto version = client.fetchHelperVersion();
  EXPECT_EQ(awaitTask(std::move(fans)).errorText(), "The helper did not respond.");
  // The timer thread runs one item at a time: once a later one has run, so has the
  // whole time-out.
  std::atomic<bool> timerPassed{false};
  TimerThread::shared().schedule(0ms, [&timerPassed] { timerPassed = true; });
  ASSERT_TRUE(spinUntil([&] { return timerPassed.load(); }));
  ASSERT_EQ(made.size(), 2u);
  EXPECT_FALSE(made[1]->invalidated);
  EXPECT_TRUE(client.hasConnection());

  for (const auto& connection : made) {
    for (const auto& error : connection->errors) {
      error(xpc::transportError(xpc::kConnectionInvalid, kHelperServiceName, "invalidated"));
    }
  }
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
