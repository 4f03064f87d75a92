#include "protocol/remote/RemoteHelper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "protocol/remote/InProcessHelperServer.h"
#include "tests/platform/xpc/FakeHelper.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::FakeHelper;
using testing::TempDir;

// Generous: the suite runs under ASan on a slow shared machine.
constexpr auto kWait = 60s;

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
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (helper.keptCount() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
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
}  // namespace zephro
