// The helper client against an in-process helper on a temp socket, the replies it settles,
// the tasks it detaches, and the helper's registration through the scripted service manager.
#include "app/core/HelperClient.h"

#include <gtest/gtest.h>

#include <QThread>
#include <QTimer>
#include <atomic>
#include <barrier>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "app/core/Detach.h"
#include "app/core/HelperInstallError.h"
#include "app/core/PendingReply.h"
#include "app/core/RemoteError.h"
#include "app/core/TimerThread.h"
#include "app/core/WorkerThread.h"
#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/ScriptedHelper.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using Kind = HelperInstallError::Kind;
using Lines = std::vector<std::string>;
using testing::awaitTask;
using testing::FakeServiceManager;
using testing::ScriptedHelper;
using testing::spinUntil;

const Error kSmcError =
    Error::withDescription("SMCErrorDomain", 1, "Could not open connection to AppleSMC.");

// A client on a temp socket with the scripted service manager and a shrunk settling wait;
// it counts the connections it makes.
struct ClientOnSocket {
  explicit ClientOnSocket(std::chrono::milliseconds callTimeout = 15s,
                          std::chrono::milliseconds versionTimeout = 300ms)
      : socket((dir / "helper.sock").string()) {
    HelperClientOptions options;
    options.serviceManager = services;
    options.connectionFactory = [this] {
      ++connectionsMade;
      return xpc::Connection::toSocketPath(socket);
    };
    options.callTimeout = callTimeout;
    options.versionTimeout = versionTimeout;
    options.settleInterval = 1ms;
    client = std::make_unique<HelperClient>(std::move(options));
  }

  // registerHelper's exception, if it threw one.
  std::optional<HelperInstallError> registerHelper(bool forceRefresh) const {
    try {
      client->registerHelper(forceRefresh);
      return std::nullopt;
    } catch (const HelperInstallError& error) {
      return error;
    }
  }

  zephro::testing::TempDir dir;
  std::string socket;
  std::shared_ptr<FakeServiceManager> services = std::make_shared<FakeServiceManager>();
  std::atomic<int> connectionsMade{0};
  std::unique_ptr<HelperClient> client;
  log::Capture capture;
};
TEST(HelperClient, AnswersEachOperationFromTheHelper) {
  ClientOnSocket c;
  ScriptedHelper helper;
  helper.fans = {FanInfoDTO(0, 2317, 2317, 6550, FanMode::manual),
                 FanInfoDTO(1, 2400.5, 2160, 5940, FanMode::manual)};
  helper.celsius = 47.25;
  InProcessHelperServer server(c.socket, helper);

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
  EXPECT_TRUE(c.capture.lines().empty());
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
      c.capture.lines(),
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
  const auto none = awaitTask(c.client->fetchFanInfo());
  ASSERT_TRUE(none.succeeded());
  EXPECT_TRUE(none.value->empty());
  EXPECT_TRUE(c.capture.lines().empty());

  helper.fanError = Error::withDescription("HelperError", -2, "fanCount is -2");
  EXPECT_EQ(awaitTask(c.client->fetchFanInfo()).errorText(), "fanCount is -2");
}

TEST(HelperClient, AMissingHelperFailsAtOnceAndOnlyTheReadsLog) {
  ClientOnSocket c;  // nothing listens on the socket

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
  EXPECT_EQ(c.capture.lines(),
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

  // The ticker runs only while awaitTask turns the loop for the outstanding call: a call
  // that blocked the main thread would let at most one (coalesced) tick through.
  int ticksWhilePending = 0;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticksWhilePending; });
  auto fans = c.client->fetchFanInfo();
  ticker.start();
  const auto version = awaitTask(c.client->fetchHelperVersion());
  ticker.stop();
  EXPECT_GE(ticksWhilePending, 5) << "the event loop must keep turning while the helper is silent";
  const auto unavailable = version.errorAs<HelperInstallError>();
  ASSERT_TRUE(unavailable) << version.errorText();
  EXPECT_EQ(unavailable->kind(), HelperInstallError::Kind::unavailable);
  EXPECT_EQ(version.errorText(), "The helper did not respond.");
  // Long before its own time-out, and not as a transport error.
  const auto dropped = awaitTask(std::move(fans), 60s);
  ASSERT_TRUE(dropped.error);
  EXPECT_EQ(dropped.errorText(), "The helper did not respond.");
  ASSERT_TRUE(spinUntil([&] { return !c.client->hasConnection(); }));

  // The late answers go to a connection that is gone; the next call makes a new one.
  ASSERT_TRUE(spinUntil([&] { return helper.heldCount() == 2; }));
  helper.releaseHeld();
  ASSERT_TRUE(awaitTask(c.client->fetchSystemTemperature()).succeeded());
  EXPECT_EQ(c.connectionsMade, 2);
  EXPECT_TRUE(c.capture.lines().empty()) << "a time-out logs nothing";
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

const std::string kNeedsApproval = "Zephro needs approval in Login Items to run its helper.";
const std::string kReinstalling =
    "[Zephro] Reinstalling enabled helper to refresh to the current binary.";
const std::string kReRegistered = "[Zephro] Helper re-registered via SMAppService.";
const std::string kUnreachable =
    "[Zephro] Helper unreachable at launch \u2014 attempting install/repair.";

// The status read before registering, the one logged after it, then every settling round.
const int kAllSettleReads = 1 + 1 + HelperClientOptions{}.settleRounds;

struct RegistrationCase {
  const char* name;
  std::vector<FakeServiceManager::Step> status;
  std::vector<FakeServiceManager::Step> afterRegister;
  std::optional<Error> registerError;
  std::optional<Error> unregisterError;
  bool forceRefresh = true;
  std::optional<Kind> kind;  // none: no error
  std::string what;
  std::string line;      // the line the case is known by; "" for none
  int statusReads = -1;  // -1: not checked
  int registers = -1;
  Lines firstCalls;
};

TEST(HelperRegistration, Outcomes) {
  const Error refused = Error::withDescription("com.zephro.servicemanager", 4,
                                               "The administrator authentication was dismissed.");
  const Error busy = Error::withDescription("com.zephro.servicemanager", 6, "Unit file busy.");
  const std::string cannotRegister = "Unable to register the helper: Unit file busy.";
  const RegistrationCase cases[] = {
      // Only "enabled" ends the settling wait early.
      {.name = "needs approval after registering",
       .afterRegister = {{0, 3}, {2}},
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .line = "[Zephro] Helper registered with SMAppService. Status: 0",
       .statusReads = kAllSettleReads,
       .registers = 1},
      {.name = "enabled within the settling wait",
       .afterRegister = {{0, 2}, {1}},
       .statusReads = 4},
      {.name = "never enabled: the last status goes into the error",
       .status = {{3}},
       .forceRefresh = false,
       .kind = Kind::registrationFailed,
       .what = "Unable to register the helper: Helper status: 3",
       .line = "[Zephro] Helper registered with SMAppService. Status: 3",
       .statusReads = kAllSettleReads},
      {.name = "registration refused, then approval needed",
       .afterRegister = {{2}},
       .registerError = refused,
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .line = "[Zephro] SMAppService failed to register: The administrator authentication was "
               "dismissed."},
      {.name = "registration fails",
       .registerError = busy,
       .kind = Kind::registrationFailed,
       .what = cannotRegister,
       .line = "[Zephro] SMAppService failed to register: Unit file busy."},
      {.name = "already enabled",
       .status = {{1}},
       .forceRefresh = false,
       .line = "[Zephro] Helper is already enabled via SMAppService.",
       .registers = 0},
      {.name = "switched off by the user",
       .status = {{2}},
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .line = "[Zephro] Helper requires approval in Login Items.",
       .registers = 0},
      {.name = "unknown status",
       .status = {{7}},
       .kind = Kind::registrationFailed,
       .what = "Unable to register the helper: Unknown helper status: 7",
       .registers = 0},
      {.name = "repair",
       .status = {{1}},
       .afterRegister = {{0, 2}, {1}},
       .line = kReRegistered,
       .statusReads = 4,
       .registers = 1,
       .firstCalls = {"daemonService:com.zephro.helper.plist", "status=1", "unregister", "register",
                      "status=0", "status=0", "status=1"}},
      {.name = "repair calls fail but the helper stays enabled",
       .status = {{1}},
       .registerError = busy,
       .unregisterError = busy,
       .line = "[Zephro] SMAppService failed to unregister helper before repair: Unit file busy."},
      {.name = "repair needs approval",
       .status = {{1}},
       .afterRegister = {{2}},
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .line = kReinstalling},
      {.name = "repair registered but the status is slow: worth a try",
       .status = {{1}},
       .afterRegister = {{3}},
       .line = "[Zephro] Helper status still 3 after re-registration; proceeding optimistically.",
       .statusReads = kAllSettleReads},
      // Unregistered, then the registration failed: the helper is gone.
      {.name = "repair unregistered but could not register",
       .status = {{1}},
       .afterRegister = {{0}},
       .registerError = busy,
       .kind = Kind::registrationFailed,
       .what = cannotRegister,
       .line = "[Zephro] SMAppService failed to register after refresh: Unit file busy."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClientOnSocket i;
    if (!c.status.empty()) i.services->scriptStatus(c.status);
    if (!c.afterRegister.empty()) i.services->scriptStatusAfterRegister(c.afterRegister);
    if (c.registerError) i.services->failRegister(c.registerError);
    if (c.unregisterError) i.services->failUnregister(c.unregisterError);
    const auto error = i.registerHelper(c.forceRefresh);
    EXPECT_EQ(error ? std::optional(error->kind()) : std::nullopt, c.kind);
    EXPECT_EQ(error ? std::string(error->what()) : "", c.what);
    EXPECT_TRUE(c.line.empty() || i.capture.contains(c.line)) << c.line;
    EXPECT_TRUE(c.statusReads < 0 || i.services->statusReads() == c.statusReads);
    EXPECT_TRUE(c.registers < 0 || i.services->count("register") == c.registers);
    const auto calls = i.services->calls();
    ASSERT_GE(calls.size(), c.firstCalls.size());
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + std::ptrdiff_t(c.firstCalls.size())),
              c.firstCalls);
  }
}

TEST(HelperLaunchCheck, ACurrentHelperIsLeftAloneAnOlderOneRefreshed) {
  for (const std::string version : {kHelperProtocolVersion, "1.0.0"}) {
    SCOPED_TRACE(version);
    const bool current = version == kHelperProtocolVersion;
    ClientOnSocket i;
    ScriptedHelper helper;
    helper.version = version;
    InProcessHelperServer server(i.socket, helper);
    i.services->scriptStatus({{1}});
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    ASSERT_TRUE(check.succeeded()) << check.errorText();
    EXPECT_TRUE(i.capture.contains(
        current ? "[Zephro] Helper healthy (version " + version + ") \u2014 leaving it alone."
                : "[Zephro] Helper version 1.0.0 != " + std::string(kHelperProtocolVersion) +
                      " \u2014 refreshing binary."));
    EXPECT_EQ(i.services->calls().empty(), current) << "only an older helper is registered";
    // A repair drops the connection: the next call reaches the new helper afresh.
    EXPECT_EQ(i.client->hasConnection(), current);
    ASSERT_TRUE(awaitTask(i.client->fetchHelperVersion()).succeeded());
    EXPECT_EQ(i.connectionsMade, current ? 1 : 2);
  }
}

TEST(HelperLaunchCheck, AnUnreachableOrSilentHelperIsInstalled) {
  {
    // Not running at all; first launch on a clean machine needs approval.
    ClientOnSocket i;
    i.services->scriptStatusAfterRegister({{2}});
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    ASSERT_TRUE(check.errorAs<HelperInstallError>());
    EXPECT_EQ(check.errorAs<HelperInstallError>()->kind(), Kind::requiresApproval);
    EXPECT_TRUE(i.capture.contains(kUnreachable));
  }
  {
    // Answers nothing within the (shrunk) version time-out.
    ClientOnSocket i;
    ScriptedHelper helper;
    helper.hold();
    InProcessHelperServer server(i.socket, helper);
    i.services->scriptStatus({{1}});
    ASSERT_TRUE(awaitTask(i.client->verifyHelperAtLaunch()).succeeded());
    EXPECT_TRUE(i.capture.contains(kUnreachable));
    EXPECT_EQ(i.services->count("register"), 1);
  }
  HelperClient withoutServiceManager(HelperClientOptions{});
  EXPECT_EQ(awaitTask(withoutServiceManager.registerHelperInBackground(true)).errorText(),
            "Unable to register the helper: no service manager is configured");
}

TEST(HelperLaunchCheck, TheMainLoopKeepsTurningDuringARegistration) {
  ClientOnSocket i;
  i.services->scriptStatusAfterRegister({{1}});
  // The registration holds its thread until the main loop has turned (or a guard passed).
  std::atomic<bool> turned{false};
  i.services->onRegister([&turned] {
    for (int waited = 0; !turned && waited < 120000; ++waited) std::this_thread::sleep_for(1ms);
  });
  QTimer::singleShot(0, [&turned] { turned = true; });
  ASSERT_TRUE(awaitTask(i.client->registerHelperInBackground(true)).succeeded());
  EXPECT_TRUE(turned);
}

struct Record {
  int resumptions = 0;
  bool gotValue = false;
  bool gotError = false;
  bool onMainThread = true;
};

QCoro::Task<> awaitOne(std::shared_ptr<PendingReply<int>> pending, Record* record) {
  try {
    const int value = co_await *pending;
    record->gotValue = value == 7;
  } catch (const HelperInstallError&) {
    record->gotError = true;
  }
  record->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
  ++record->resumptions;
}

// Replies and time-outs settle the same replies at the same moment from two threads:
// exactly one of them wins each, and its outcome is the one the caller sees, once.
TEST(PendingReply, RacingSettlersResumeEachCallerExactlyOnceWithTheWinner) {
  constexpr int kReplies = 5000;
  std::vector<std::shared_ptr<PendingReply<int>>> pendings;
  std::vector<Record> records(kReplies);
  for (int i = 0; i < kReplies; ++i) {
    pendings.push_back(PendingReply<int>::make());
    // Half are awaited before they are settled, half may be settled first.
    if (i % 2 == 0) detach(awaitOne(pendings.back(), &records[i]), "await");
  }
  std::vector<char> resolvedWon(kReplies, 0);
  std::vector<char> rejectedWon(kReplies, 0);
  std::barrier start(2);
  std::thread replies([&] {
    start.arrive_and_wait();
    for (int i = 0; i < kReplies; ++i) resolvedWon[i] = static_cast<char>(pendings[i]->resolve(7));
  });
  std::thread timeouts([&] {
    start.arrive_and_wait();
    for (int i = kReplies - 1; i >= 0; --i) {
      rejectedWon[i] = static_cast<char>(pendings[i]->reject(HelperInstallError::unavailable()));
    }
  });
  for (int i = 1; i < kReplies; i += 2) detach(awaitOne(pendings[i], &records[i]), "await");
  replies.join();
  timeouts.join();

  ASSERT_TRUE(spinUntil([&] {
    return std::all_of(records.begin(), records.end(),
                       [](const Record& r) { return r.resumptions > 0; });
  }));
  spinUntil([] { return false; }, 50ms);  // any second resumption would show now
  for (int i = 0; i < kReplies; ++i) {
    ASSERT_EQ(resolvedWon[i] + rejectedWon[i], 1) << i;
    ASSERT_EQ(records[i].resumptions, 1) << i;
    ASSERT_EQ(records[i].gotValue, resolvedWon[i] == 1) << i;
    ASSERT_EQ(records[i].gotError, rejectedWon[i] == 1) << i;
    ASSERT_TRUE(records[i].onMainThread) << i;
  }
}

TEST(Detach, LogsWhatEscapesADetachedTask) {
  log::Capture capture;
  const auto failing = [](std::string text) -> QCoro::Task<int> {
    co_await onWorkerThread([] { return 0; });
    throw std::runtime_error(text);
  };
  const auto remote = []() -> QCoro::Task<> {
    throw RemoteError(Error::withDescription("HelperError", 0, "fanCount is 0"));
    co_return;
  };
  const auto fine = []() -> QCoro::Task<> { co_return; };
  detach(failing("boom"), "Poll");
  detach(remote(), "Mode change");
  detach(fine(), "Quiet");
  ASSERT_TRUE(spinUntil([&] { return capture.lines().size() == 2; }));
  spinUntil([] { return false; }, 20ms);
  EXPECT_EQ(capture.lines().size(), 2u);
  EXPECT_TRUE(capture.contains("[Zephro] Poll failed: boom"));
  // An error from the helper is described in full, as the log lines quote errors.
  EXPECT_TRUE(capture.contains(
      "[Zephro] Mode change failed: Error Domain=HelperError Code=0 \"fanCount is 0\" "
      "UserInfo={NSLocalizedDescription=fanCount is 0}"));
}

}  // namespace
}  // namespace zephro
