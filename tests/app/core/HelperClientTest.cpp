// The helper client against an in-process helper on a temp socket and a scripted service manager.
#include "app/core/HelperClient.h"

#include <gtest/gtest.h>

#include <QThread>
#include <QTimer>
#include <algorithm>
#include <barrier>
#include <iterator>
#include <sstream>
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
const std::string kNoAnswer = "The helper did not respond.";

template <typename T>
std::optional<Error> remoteError(const testing::Outcome<T>& outcome) {
  const auto error = outcome.template errorAs<RemoteError>();
  return error ? std::optional(error->error()) : std::nullopt;
}

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

  zephro::testing::TempDir dir;
  std::string socket;
  std::shared_ptr<FakeServiceManager> services = std::make_shared<FakeServiceManager>();
  std::atomic<int> connectionsMade{0};
  std::unique_ptr<HelperClient> client;
  log::Capture capture;
};

// Without a helper calls fail at once and only reads log; then calls share one new connection.
TEST(HelperClient, AnswersEachOperationFromTheHelperAndThrowsItsErrors) {
  ClientOnSocket c;
  const auto missing = remoteError(awaitTask(c.client->fetchFanInfo()));
  ASSERT_TRUE(missing);
  EXPECT_EQ(std::pair(missing->domain, missing->code),
            std::pair(std::string(xpc::kTransportErrorDomain), xpc::kConnectionInvalid));
  const auto missingCelsius = remoteError(awaitTask(c.client->fetchSystemTemperature()));
  ASSERT_TRUE(missingCelsius);
  EXPECT_TRUE(remoteError(awaitTask(c.client->setMode(FanMode::system, {}))));
  EXPECT_EQ(c.capture.lines(),
            (Lines{"[Zephro] XPC Error in fetchFanInfo: " + missing->fullDescription(),
                   "[Zephro] XPC Error in fetchSystemTemperature: " +
                       missingCelsius->fullDescription()}));
  c.capture.clear();

  ScriptedHelper helper;
  const std::vector<FanInfoDTO> fans = {FanInfoDTO(0, 2317, 2317, 6550, FanMode::manual),
                                        FanInfoDTO(1, 2400.5, 2160, 5940, FanMode::manual)};
  helper.fans = fans;
  InProcessHelperServer server(c.socket, helper);
  const int connectionsBefore = c.connectionsMade;
  EXPECT_EQ(awaitTask(c.client->fetchFanInfo()).value, fans);
  EXPECT_TRUE(awaitTask(c.client->fetchSystemTemperature()).succeeded());
  EXPECT_TRUE(awaitTask(c.client->setMode(FanMode::system, {})).succeeded());
  EXPECT_EQ(c.connectionsMade, connectionsBefore + 1);

  // A machine without fans answers "fanCount is 0" with no fans: that is an empty list.
  const Error noFans = Error::withDescription("HelperError", 0, "fanCount is 0");
  helper.update([&](ScriptedHelper& h) {
    h.fans.clear();
    h.fanError = noFans;
  });
  EXPECT_EQ(awaitTask(c.client->fetchFanInfo()).value, std::vector<FanInfoDTO>{});
  // With fans the error wins; a negative count is a controller that could not be read.
  const Error unread = Error::withDescription("HelperError", -2, "fanCount is -2");
  helper.update([&](ScriptedHelper& h) {
    h.fans = fans;
    h.temperatureError = kSmcError;
  });
  EXPECT_EQ(remoteError(awaitTask(c.client->fetchFanInfo())), noFans);
  EXPECT_EQ(remoteError(awaitTask(c.client->fetchSystemTemperature())), kSmcError);
  helper.update([&](ScriptedHelper& h) {
    h.fans.clear();
    h.fanError = unread;
  });
  EXPECT_EQ(remoteError(awaitTask(c.client->fetchFanInfo())), unread);
  EXPECT_EQ(
      c.capture.lines(),
      (Lines{"[Zephro] Helper returned error: Error Domain=HelperError Code=0 \"fanCount is 0\" "
             "UserInfo={NSLocalizedDescription=fanCount is 0}",
             "[Zephro] Helper returned error: " + kSmcError.fullDescription(),
             "[Zephro] Helper returned error: " + unread.fullDescription()}));
}

// Calls on a connection are answered in turn, so one left unanswered takes down the others on it.
TEST(HelperClient, ASilentHelperTimesOutWithoutBlockingAndTheNextCallConnectsAfresh) {
  ClientOnSocket c(10min, 200ms);
  ScriptedHelper helper;
  helper.hold();
  InProcessHelperServer server(c.socket, helper);

  // Ticks come only while the loop turns: a call blocking the main thread lets one through at most.
  int ticksWhilePending = 0;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticksWhilePending; });
  auto fans = c.client->fetchFanInfo();
  auto change = c.client->setMode(FanMode::max, {});
  auto celsius = c.client->fetchSystemTemperature();
  ticker.start();
  const auto version = awaitTask(c.client->fetchHelperVersion());
  ticker.stop();
  EXPECT_GE(ticksWhilePending, 5);
  EXPECT_EQ(version.errorText(), kNoAnswer);
  // Long before its own time-out, and not as a transport error.
  EXPECT_EQ(awaitTask(std::move(fans), 60s).errorText(), kNoAnswer);
  EXPECT_EQ(awaitTask(std::move(change), 60s).errorText(), kNoAnswer);
  EXPECT_EQ(awaitTask(std::move(celsius), 60s).errorText(), kNoAnswer);
  ASSERT_TRUE(spinUntil([&] { return !c.client->hasConnection(); }));

  // The late answers go to a connection that is gone; the next call makes a new one.
  ASSERT_TRUE(spinUntil([&] { return helper.heldCount() == 4; }));
  helper.releaseHeld();
  ASSERT_TRUE(awaitTask(c.client->fetchSystemTemperature()).succeeded());
  EXPECT_EQ(c.connectionsMade, 2);
  EXPECT_TRUE(c.capture.lines().empty()) << "a time-out logs nothing";
}

// Never answers and reports its end only when told, holding open the window (which a real one
// cannot) in which a time-out finds its connection already replaced.
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
  EXPECT_EQ(awaitTask(std::move(fans)).errorText(), kNoAnswer);
  // The timer thread runs one item at a time: once a later one has run, so has the time-out.
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

// The statuses read in turn, the last one from then on, as in "0 0 2"; or the words of a line.
template <typename T>
std::vector<T> listOf(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<T>(in), std::istream_iterator<T>()};
}

TEST(HelperRegistration, Outcomes) {
  const Error refused = Error::withDescription("com.zephro.servicemanager", 4,
                                               "The administrator authentication was dismissed.");
  const Error busy = Error::withDescription("com.zephro.servicemanager", 6, "Unit file busy.");
  const std::string cannotRegister = "Unable to register the helper: Unit file busy.";
  // The status read before registering, the one logged after it, then every settling round.
  const int allReads = 1 + 1 + HelperClientOptions{}.settleRounds;
  const std::string registered = "[Zephro] Helper registered with SMAppService. Status: ";
  const std::string failed = "[Zephro] SMAppService failed to register";
  // Unchecked: "" for the error's text or the line, -1 for a count.
  const struct {
    const char* name;
    std::string status;
    std::string afterRegister;
    std::string what;
    std::string line;
    int statusReads = -1;
    int registers = -1;
    const Error* registerError = nullptr;
    bool failUnregister = false;
    bool forceRefresh = true;
    std::string firstCalls;
  } cases[] = {
      // Only "enabled" ends the settling wait early.
      {"needs approval after registering", "", "0 0 0 2", kNeedsApproval, registered + "0",
       allReads, 1},
      {"enabled within the settling wait", "", "0 0 1", "", "", 4},
      {"never enabled: the last status goes into the error", "3", "",
       "Unable to register the helper: Helper status: 3", registered + "3", allReads, -1, nullptr,
       false, false},
      {"registration refused, then approval needed", "", "2", kNeedsApproval,
       failed + ": " + refused.localizedDescription(), -1, -1, &refused},
      {"registration fails", "", "", cannotRegister, failed + ": Unit file busy.", -1, -1, &busy},
      {"already enabled", "1", "", "", "[Zephro] Helper is already enabled via SMAppService.", -1,
       0, nullptr, false, false},
      {"switched off by the user", "2", "", kNeedsApproval,
       "[Zephro] Helper requires approval in Login Items.", -1, 0},
      {"repair", "1", "0 0 1", "", "[Zephro] Helper re-registered via SMAppService.", 4, 1, nullptr,
       false, true,
       "daemonService:com.zephro.helper.plist status=1 unregister register status=0 status=0 "
       "status=1"},
      {"repair calls fail but the helper stays enabled", "1", "", "",
       "[Zephro] SMAppService failed to unregister helper before repair: Unit file busy.", -1, -1,
       &busy, true},
      {"repair needs approval", "1", "2", kNeedsApproval,
       "[Zephro] Reinstalling enabled helper to refresh to the current binary."},
      {"repair registered but the status is slow: worth a try", "1", "3", "",
       "[Zephro] Helper status still 3 after re-registration; proceeding optimistically.",
       allReads},
      // Unregistered, then the registration failed: the helper is gone.
      {"repair unregistered but could not register", "1", "0", cannotRegister,
       failed + " after refresh: Unit file busy.", -1, -1, &busy},
  };
  const auto steps = [](const std::string& text) {
    std::vector<FakeServiceManager::Step> result;
    for (const int status : listOf<int>(text)) result.push_back({status});
    return result;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClientOnSocket i;
    if (!c.status.empty()) i.services->scriptStatus(steps(c.status));
    if (!c.afterRegister.empty()) i.services->scriptStatusAfterRegister(steps(c.afterRegister));
    if (c.registerError) i.services->failRegister(*c.registerError);
    if (c.failUnregister) i.services->failUnregister(busy);
    std::optional<HelperInstallError> error;
    try {
      i.client->registerHelper(c.forceRefresh);
    } catch (const HelperInstallError& thrown) {
      error = thrown;
    }
    const auto kind = c.what.empty()             ? std::nullopt
                      : c.what == kNeedsApproval ? std::optional(Kind::requiresApproval)
                                                 : std::optional(Kind::registrationFailed);
    EXPECT_EQ(error ? std::optional(error->kind()) : std::nullopt, kind);
    EXPECT_EQ(error ? std::string(error->what()) : "", c.what);
    EXPECT_TRUE(c.line.empty() || i.capture.contains(c.line)) << c.line;
    EXPECT_TRUE(c.statusReads < 0 || i.services->statusReads() == c.statusReads);
    EXPECT_TRUE(c.registers < 0 || i.services->count("register") == c.registers);
    const auto calls = i.services->calls();
    const auto firstCalls = listOf<std::string>(c.firstCalls);
    ASSERT_GE(calls.size(), firstCalls.size());
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + std::ptrdiff_t(firstCalls.size())), firstCalls);
  }
}

// An older helper is refreshed (and reached afresh), an unreachable or silent one installed.
TEST(HelperLaunchCheck, OnlyACurrentHelperIsLeftAlone) {
  const struct {
    std::string version;  // "": nothing listens
    std::string line;
    int connections;
  } cases[] = {
      {kHelperProtocolVersion,
       "[Zephro] Helper healthy (version " + std::string(kHelperProtocolVersion) +
           ") \u2014 leaving it alone.",
       1},
      {"1.0.0",
       "[Zephro] Helper version 1.0.0 != " + std::string(kHelperProtocolVersion) +
           " \u2014 refreshing binary.",
       2},
      {"", "[Zephro] Helper unreachable at launch \u2014 attempting install/repair.", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    ClientOnSocket i;
    ScriptedHelper helper;
    helper.version = c.version;
    std::optional<InProcessHelperServer> server;
    if (!c.version.empty()) server.emplace(i.socket, helper);
    // First launch on a clean machine: approval needed.
    c.version.empty() ? i.services->scriptStatusAfterRegister({{2}})
                      : i.services->scriptStatus({{1}});
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    EXPECT_TRUE(i.capture.contains(c.line));
    if (c.version.empty()) {
      ASSERT_TRUE(check.errorAs<HelperInstallError>());
      EXPECT_EQ(check.errorAs<HelperInstallError>()->kind(), Kind::requiresApproval);
      continue;
    }
    ASSERT_TRUE(check.succeeded()) << check.errorText();
    const bool current = c.version == kHelperProtocolVersion;
    EXPECT_EQ(i.services->count("register"), current ? 0 : 1);
    EXPECT_EQ(i.client->hasConnection(), current);
    ASSERT_TRUE(awaitTask(i.client->fetchHelperVersion()).succeeded());
    EXPECT_EQ(i.connectionsMade, c.connections);
  }
}

TEST(HelperLaunchCheck, RegisteringInTheBackgroundKeepsTheMainLoopTurning) {
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

  HelperClient withoutServiceManager(HelperClientOptions{});
  EXPECT_EQ(awaitTask(withoutServiceManager.registerHelperInBackground(true)).errorText(),
            "Unable to register the helper: no service manager is configured");
}

struct Record {
  int resumptions = 0;
  bool gotValue = false;
  bool gotError = false;
  bool onMainThread = true;
};

QCoro::Task<> awaitOne(std::shared_ptr<PendingReply<int>> pending, Record* record) {
  try {
    record->gotValue = co_await *pending == 7;
  } catch (const HelperInstallError&) {
    record->gotError = true;
  }
  record->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
  ++record->resumptions;
}

// Replies and time-outs race from two threads: one wins each, and the caller sees it, once.
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
    return std::ranges::all_of(records, [](const Record& r) { return r.resumptions > 0; });
  }));
  spinUntil([] { return false; }, 50ms);  // any second resumption would show now
  for (int i = 0; i < kReplies; ++i) {
    ASSERT_EQ(resolvedWon[i] + rejectedWon[i], 1) << i;
    const Record& r = records[i];
    ASSERT_EQ(std::tuple(r.resumptions, r.gotValue, r.gotError, r.onMainThread),
              std::tuple(1, resolvedWon[i] == 1, rejectedWon[i] == 1, true))
        << i;
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
  // Log lines quote the helper's error in full; the two threads may log in either order.
  auto lines = capture.lines();
  std::ranges::sort(lines);
  EXPECT_EQ(lines, (Lines{"[Zephro] Mode change failed: Error Domain=HelperError Code=0 "
                          "\"fanCount is 0\" UserInfo={NSLocalizedDescription=fanCount is 0}",
                          "[Zephro] Poll failed: boom"}));
}

}  // namespace
}  // namespace zephro
