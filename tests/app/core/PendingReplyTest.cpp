#include "app/core/PendingReply.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <barrier>
#include <stdexcept>
#include <thread>

#include "app/core/Detach.h"
#include "app/core/HelperInstallError.h"
#include "app/core/RemoteError.h"
#include "app/core/WorkerThread.h"
#include "platform/log/Log.h"
#include "tests/app/core/TaskRunner.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::spinUntil;

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
