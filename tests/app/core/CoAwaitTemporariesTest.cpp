// Why app/core/Detach.h has coroutines build the arguments of a task before awaiting it:
// GCC 12 destroys a temporary made by aggregate initialisation inside a co_await
// expression twice. Run under the sanitizers like every test.
#include <gtest/gtest.h>

#include <QCoro/QCoroTimer>
#include <vector>

#include "tests/app/core/TaskRunner.h"

namespace zephro {
namespace {

// Counts constructions and destructions; a second destruction only counts.
struct Counted {
  Counted() { ++made; }
  Counted(const Counted& /*other*/) : Counted() {}
  Counted(Counted&& /*other*/) noexcept : Counted() {}
  Counted& operator=(const Counted&) = delete;
  Counted& operator=(Counted&&) = delete;
  ~Counted() { ++destroyed; }

  static inline int made = 0;
  static inline int destroyed = 0;
};

struct Aggregate {
  Counted counted;
};

// Resumed from the event loop, like a call to the helper.
template <typename T>
QCoro::Task<> takes(T /*argument*/) {
  co_await QCoro::sleepFor(std::chrono::milliseconds(0));
}

QCoro::Task<> aggregateInline() {
  co_await takes(Aggregate{});
}
QCoro::Task<> aggregateMadeFirst() {
  auto task = takes(Aggregate{});
  co_await task;
}
QCoro::Task<> vectorInline() {
  co_await takes(std::vector<Counted>(3));
}

// How many more destructions than constructions the coroutine ran.
int destroyedAgain(QCoro::Task<> (*coroutine)()) {
  Counted::made = Counted::destroyed = 0;
  EXPECT_TRUE(testing::awaitTask(coroutine()).succeeded());
  // The awaited coroutine's frame goes a turn of the event loop later.
  EXPECT_TRUE(testing::spinUntil([] { return Counted::destroyed >= Counted::made; }));
  return Counted::destroyed - Counted::made;
}

TEST(CoAwaitTemporaries, ArgumentsBuiltBeforeTheCoAwaitAreDestroyedOnce) {
  EXPECT_EQ(destroyedAgain(aggregateMadeFirst), 0);
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
  // A compiler that no longer does this fails here: the rule then has no reason left.
  EXPECT_GT(destroyedAgain(aggregateInline), 0);
  EXPECT_EQ(destroyedAgain(vectorInline), 0) << "a temporary made by a constructor";
#endif
}

}  // namespace
}  // namespace zephro
