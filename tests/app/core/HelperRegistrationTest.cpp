#include <gtest/gtest.h>

#include <QTimer>
#include <condition_variable>

#include "app/core/HelperClient.h"
#include "app/core/HelperInstallError.h"
#include "platform/log/Log.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/core/ScriptedHelper.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
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

TEST(HelperRegistration, FirstRegistrationOutcomes) {
  {
    // Needs approval: only "enabled" ends the wait early, so the one logged read is
    // followed by all 15 rounds.
    Installation i;
    i.services->scriptStatusAfterRegister({{0, 3}, {2}});
    expectError(i.registerHelper(true), Kind::requiresApproval, kNeedsApproval);
    EXPECT_EQ(i.capture.lines(), Lines{"[Zephro] Helper registered with SMAppService. Status: 0"});
    const auto calls = i.services->calls();
    ASSERT_GE(calls.size(), 7u);
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + 7),
              (Lines{"daemonService:com.zephro.helper.plist", "status=0", "register", "status=0",
                     "status=0", "status=0", "status=2"}));
    EXPECT_EQ(i.services->statusReads(), 1 + 1 + 15);
  }
  {
    // Enabled within the settling wait: done, quietly.
    Installation i;
    i.services->scriptStatusAfterRegister({{0, 2}, {1}});
    EXPECT_FALSE(i.registerHelper(true));
    EXPECT_EQ(i.capture.lines(), Lines{"[Zephro] Helper registered with SMAppService. Status: 0"});
    EXPECT_EQ(i.services->statusReads(), 4);
  }
  {
    // Never enabled: the last status goes into the error.
    Installation i;
    i.services->scriptStatus({{3}});
    expectError(i.registerHelper(false), Kind::registrationFailed,
                "Unable to register the helper: Helper status: 3");
    EXPECT_EQ(i.services->statusReads(), 1 + 1 + 15);
    EXPECT_EQ(i.capture.lines(), Lines{"[Zephro] Helper registered with SMAppService. Status: 3"});
  }
  {
    // Registration refused and the status then needs approval.
    Installation i;
    i.services->failRegister(kRefused);
    i.services->scriptStatusAfterRegister({{2}});
    expectError(i.registerHelper(true), Kind::requiresApproval, kNeedsApproval);
    EXPECT_EQ(i.capture.lines(),
              Lines{"[Zephro] SMAppService failed to register: The administrator authentication "
                    "was dismissed."});
  }
  {
    Installation i;
    i.services->failRegister(kBusy);
    const auto error = i.registerHelper(true);
    ASSERT_NO_FATAL_FAILURE(expectError(error, Kind::registrationFailed,
                                        "Unable to register the helper: Unit file busy."));
    EXPECT_EQ(error->message(), "Unit file busy.");
    EXPECT_EQ(i.capture.lines(),
              Lines{"[Zephro] SMAppService failed to register: Unit file busy."});
  }
}

TEST(HelperRegistration, StatusesThatNeedNoRegistration) {
  {
    Installation i;
    i.services->scriptStatus({{1}});
    EXPECT_FALSE(i.registerHelper(false));
    EXPECT_EQ(i.capture.lines(), Lines{"[Zephro] Helper is already enabled via SMAppService."});
    EXPECT_EQ(i.services->count("register"), 0);
  }
  {
    // Switched off by the user: logged and thrown without registering.
    Installation i;
    i.services->scriptStatus({{2}});
    expectError(i.registerHelper(true), Kind::requiresApproval, kNeedsApproval);
    EXPECT_EQ(i.capture.lines(), Lines{"[Zephro] Helper requires approval in Login Items."});
    EXPECT_EQ(i.services->count("register"), 0);
  }
  {
    Installation i;
    i.services->scriptStatus({{7}});
    expectError(i.registerHelper(true), Kind::registrationFailed,
                "Unable to register the helper: Unknown helper status: 7");
    EXPECT_TRUE(i.capture.lines().empty());
    EXPECT_EQ(i.services->count("register"), 0);
  }
}

TEST(HelperRegistration, RepairOutcomes) {
  {
    Installation i;
    i.services->scriptStatus({{1}});
    i.services->scriptStatusAfterRegister({{0, 2}, {1}});
    EXPECT_FALSE(i.registerHelper(true));
    EXPECT_EQ(i.capture.lines(), (Lines{kReinstalling, kReRegistered}));
    EXPECT_EQ(i.services->calls(),
              (Lines{"daemonService:com.zephro.helper.plist", "status=1", "unregister", "register",
                     "status=0", "status=0", "status=1"}));
  }
  {
    // Both calls fail but the helper stays enabled: logged, and carried on.
    Installation i;
    i.services->scriptStatus({{1}});
    i.services->failUnregister(kBusy);
    i.services->failRegister(kBusy);
    EXPECT_FALSE(i.registerHelper(true));
    EXPECT_EQ(i.capture.lines(),
              (Lines{kReinstalling,
                     "[Zephro] SMAppService failed to unregister helper before repair: Unit file "
                     "busy.",
                     "[Zephro] SMAppService failed to register after refresh: Unit file busy.",
                     kReRegistered}));
  }
  {
    Installation i;
    i.services->scriptStatus({{1}});
    i.services->scriptStatusAfterRegister({{2}});
    expectError(i.registerHelper(true), Kind::requiresApproval, kNeedsApproval);
    EXPECT_EQ(i.capture.lines(), Lines{kReinstalling});
  }
  {
    // The registration went through but the status is slow: worth a try.
    Installation i;
    i.services->scriptStatus({{1}});
    i.services->scriptStatusAfterRegister({{3}});
    EXPECT_FALSE(i.registerHelper(true));
    EXPECT_EQ(i.capture.lines(),
              (Lines{kReinstalling,
                     "[Zephro] Helper status still 3 after re-registration; proceeding "
                     "optimistically."}));
    EXPECT_EQ(i.services->statusReads(), 1 + 1 + 15);
  }
  {
    // Unregistered, then the registration failed: the helper is gone, which is a failure
    // to report, not a success.
    Installation i;
    i.services->scriptStatus({{1}});
    i.services->failRegister(kBusy);
    i.services->scriptStatusAfterRegister({{0}});
    expectError(i.registerHelper(true), Kind::registrationFailed,
                "Unable to register the helper: Unit file busy.");
    EXPECT_EQ(i.capture.lines(),
              (Lines{kReinstalling,
                     "[Zephro] SMAppService failed to register after refresh: Unit file busy."}));
  }
}

TEST(HelperLaunchCheck, ACurrentHelperIsLeftAloneAnOlderOneRefreshed) {
  {
    Installation i;
    ScriptedHelper helper;
    helper.version = "1.0.1";
    InProcessHelperServer server(i.socket, helper);
    const auto check = awaitTask(i.client->verifyHelperAtLaunch());
    ASSERT_TRUE(check.succeeded()) << check.errorText();
    EXPECT_EQ(i.capture.lines(),
              Lines{"[Zephro] Helper healthy (version 1.0.1) \u2014 leaving it alone."});
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
    EXPECT_EQ(i.capture.lines(),
              (Lines{"[Zephro] Helper version 1.0.0 != 1.0.1 \u2014 refreshing binary.",
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
