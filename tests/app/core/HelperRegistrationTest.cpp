#include <gtest/gtest.h>

#include <QTimer>
#include <condition_variable>

#include "app/core/HelperClient.h"
#include "app/core/HelperInstallError.h"
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

const Error kRefused = Error::withDescription("com.zephro.servicemanager", 4,
                                              "The administrator authentication was dismissed.");
const Error kBusy = Error::withDescription("com.zephro.servicemanager", 6, "Unit file busy.");
const std::string kNeedsApproval = "Zephro needs approval in Login Items to run its helper.";
const std::string kReinstalling =
    "[Zephro] Reinstalling enabled helper to refresh to the current binary.";
const std::string kReRegistered = "[Zephro] Helper re-registered via SMAppService.";
const std::string kUnreachable =
    "[Zephro] Helper unreachable at launch \u2014 attempting install/repair.";

// A client with the fake service manager, a shrunk settling wait and a temp socket.
struct Installation {
  Installation() : socket((dir / "helper.sock").string()) {
    HelperClientOptions options;
    options.serviceManager = services;
    options.connectionFactory = [this] {
      ++connectionsMade;
      return xpc::Connection::toSocketPath(socket);
    };
    options.settleInterval = 1ms;
    options.versionTimeout = 300ms;
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

void expectError(const std::optional<HelperInstallError>& error, Kind kind,
                 const std::string& what) {
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind(), kind);
  EXPECT_EQ(error->what(), what);
}

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
  Lines log;
  int statusReads = -1;  // -1: not checked
  int registers = -1;
  Lines firstCalls;
};

TEST(HelperRegistration, Outcomes) {
  const std::string busy = "Unable to register the helper: Unit file busy.";
  const RegistrationCase cases[] = {
      // Only "enabled" ends the settling wait early.
      {.name = "needs approval after registering",
       .afterRegister = {{0, 3}, {2}},
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .log = {"[Zephro] Helper registered with SMAppService. Status: 0"},
       .statusReads = kAllSettleReads,
       .registers = 1,
       .firstCalls = {"daemonService:com.zephro.helper.plist", "status=0", "register", "status=0",
                      "status=0", "status=0", "status=2"}},
      {.name = "enabled within the settling wait",
       .afterRegister = {{0, 2}, {1}},
       .log = {"[Zephro] Helper registered with SMAppService. Status: 0"},
       .statusReads = 4},
      {.name = "never enabled: the last status goes into the error",
       .status = {{3}},
       .forceRefresh = false,
       .kind = Kind::registrationFailed,
       .what = "Unable to register the helper: Helper status: 3",
       .log = {"[Zephro] Helper registered with SMAppService. Status: 3"},
       .statusReads = kAllSettleReads},
      {.name = "registration refused, then approval needed",
       .afterRegister = {{2}},
       .registerError = kRefused,
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .log = {"[Zephro] SMAppService failed to register: The administrator authentication was "
               "dismissed."}},
      {.name = "registration fails",
       .registerError = kBusy,
       .kind = Kind::registrationFailed,
       .what = busy,
       .log = {"[Zephro] SMAppService failed to register: Unit file busy."}},
      {.name = "already enabled",
       .status = {{1}},
       .forceRefresh = false,
       .log = {"[Zephro] Helper is already enabled via SMAppService."},
       .registers = 0},
      {.name = "switched off by the user",
       .status = {{2}},
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .log = {"[Zephro] Helper requires approval in Login Items."},
       .registers = 0},
      {.name = "unknown status",
       .status = {{7}},
       .kind = Kind::registrationFailed,
       .what = "Unable to register the helper: Unknown helper status: 7",
       .registers = 0},
      {.name = "repair",
       .status = {{1}},
       .afterRegister = {{0, 2}, {1}},
       .log = {kReinstalling, kReRegistered},
       .statusReads = 4,
       .registers = 1,
       .firstCalls = {"daemonService:com.zephro.helper.plist", "status=1", "unregister", "register",
                      "status=0", "status=0", "status=1"}},
      {.name = "repair calls fail but the helper stays enabled",
       .status = {{1}},
       .registerError = kBusy,
       .unregisterError = kBusy,
       .log = {kReinstalling,
               "[Zephro] SMAppService failed to unregister helper before repair: Unit file busy.",
               "[Zephro] SMAppService failed to register after refresh: Unit file busy.",
               kReRegistered}},
      {.name = "repair needs approval",
       .status = {{1}},
       .afterRegister = {{2}},
       .kind = Kind::requiresApproval,
       .what = kNeedsApproval,
       .log = {kReinstalling}},
      {.name = "repair registered but the status is slow: worth a try",
       .status = {{1}},
       .afterRegister = {{3}},
       .log = {kReinstalling,
               "[Zephro] Helper status still 3 after re-registration; proceeding optimistically."},
       .statusReads = kAllSettleReads},
      // Unregistered, then the registration failed: the helper is gone.
      {.name = "repair unregistered but could not register",
       .status = {{1}},
       .afterRegister = {{0}},
       .registerError = kBusy,
       .kind = Kind::registrationFailed,
       .what = busy,
       .log = {kReinstalling,
               "[Zephro] SMAppService failed to register after refresh: Unit file busy."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation i;
    if (!c.status.empty()) i.services->scriptStatus(c.status);
    if (!c.afterRegister.empty()) i.services->scriptStatusAfterRegister(c.afterRegister);
    if (c.registerError) i.services->failRegister(c.registerError);
    if (c.unregisterError) i.services->failUnregister(c.unregisterError);
    const auto error = i.registerHelper(c.forceRefresh);
    if (c.kind) {
      expectError(error, *c.kind, c.what);
      if (error && c.registerError && c.kind == Kind::registrationFailed) {
        EXPECT_EQ(error->message(), c.registerError->localizedDescription());
      }
    } else {
      EXPECT_FALSE(error) << error->what();
    }
    EXPECT_EQ(i.capture.lines(), c.log);
    if (c.statusReads >= 0) EXPECT_EQ(i.services->statusReads(), c.statusReads);
    if (c.registers >= 0) EXPECT_EQ(i.services->count("register"), c.registers);
    const auto calls = i.services->calls();
    ASSERT_GE(calls.size(), c.firstCalls.size());
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + std::ptrdiff_t(c.firstCalls.size())),
              c.firstCalls);
  }
}

TEST(HelperLaunchCheck, ACurrentHelperIsLeftAloneAnOlderOneRefreshed) {
  {
    Installation i;
    ScriptedHelper helper;  // answers with the client's own protocol version
    InProcessHelperServer server(i.socket, helper);
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    ASSERT_TRUE(check.succeeded()) << check.errorText();
    EXPECT_EQ(i.capture.lines(), Lines{std::string("[Zephro] Helper healthy (version ") +
                                       kHelperProtocolVersion + ") \u2014 leaving it alone."});
    EXPECT_TRUE(i.services->calls().empty()) << "nothing registered";
    EXPECT_TRUE(i.client->hasConnection()) << "no connection dropped";
  }
  {
    Installation i;
    ScriptedHelper helper;
    helper.version = "1.0.0";
    InProcessHelperServer server(i.socket, helper);
    i.services->scriptStatus({{1}});
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    ASSERT_TRUE(check.succeeded()) << check.errorText();
    EXPECT_EQ(i.capture.lines(), (Lines{std::string("[Zephro] Helper version 1.0.0 != ") +
                                            kHelperProtocolVersion + " \u2014 refreshing binary.",
                                        kReinstalling, kReRegistered}));
    EXPECT_EQ(i.services->count("unregister"), 1);
    EXPECT_EQ(i.services->count("register"), 1);
    // The repair dropped the connection: the next call reaches the new helper afresh.
    EXPECT_FALSE(i.client->hasConnection());
    ASSERT_TRUE(awaitTask(i.client->fetchHelperVersion()).succeeded());
    EXPECT_EQ(i.connectionsMade, 2);
  }
}

TEST(HelperLaunchCheck, AnUnreachableOrSilentHelperIsInstalled) {
  {
    // Not running at all; first launch on a clean machine needs approval.
    Installation i;
    i.services->scriptStatusAfterRegister({{2}});
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    expectError(check.errorAs<HelperInstallError>(), Kind::requiresApproval, kNeedsApproval);
    EXPECT_EQ(i.capture.lines(),
              (Lines{kUnreachable, "[Zephro] Helper registered with SMAppService. Status: 2"}));
  }
  {
    // Answers nothing within the (shrunk) version time-out.
    Installation i;
    ScriptedHelper helper;
    helper.hold();
    InProcessHelperServer server(i.socket, helper);
    i.services->scriptStatus({{1}});
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    ASSERT_TRUE(check.succeeded()) << check.errorText();
    EXPECT_EQ(i.capture.lines(), (Lines{kUnreachable, kReinstalling, kReRegistered}));
    EXPECT_EQ(i.services->count("register"), 1);
  }
  {
    // Without a service manager the registration fails cleanly.
    HelperClientOptions options;
    options.connectionFactory = [] {
      return xpc::Connection::toSocketPath("/nonexistent/helper.sock");
    };
    HelperClient client(std::move(options));
    EXPECT_EQ(awaitTask(client.registerHelperInBackground(true)).errorText(),
              "Unable to register the helper: no service manager is configured");
  }
}

TEST(HelperLaunchCheck, TheMainLoopKeepsTurningDuringARegistration) {
  Installation i;
  i.services->scriptStatusAfterRegister({{1}});
  // The registration blocks its thread until the main loop has visibly turned.
  std::mutex mutex;
  std::condition_variable turned;
  int ticks = 0;
  i.services->onRegister([&] {
    std::unique_lock lock(mutex);
    turned.wait_for(lock, 120s, [&] { return ticks >= 5; });
  });
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const std::lock_guard lock(mutex);
    ++ticks;
    turned.notify_all();
  });
  ticker.start();
  const auto registration = awaitTask(i.client->registerHelperInBackground(true));
  ASSERT_TRUE(registration.succeeded()) << registration.errorText();
  const std::lock_guard lock(mutex);
  EXPECT_GE(ticks, 5);
}

}  // namespace
}  // namespace zephro
