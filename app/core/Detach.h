#pragma once

#include <exception>
#include <string>

#include <QCoro/QCoroTask>

namespace zephro {

// A coroutine builds the arguments of a task it awaits in a statement of its own
// (`auto task = f(arguments); co_await task;`). GCC 12 destroys a temporary made by
// aggregate initialisation inside a co_await expression twice (a lambda with captures,
// `Aggregate{...}`); other temporaries are destroyed once, but no argument with a
// destructor is built inline, so nobody has to tell the kinds apart.

// The one way to start a task nobody awaits: it runs to its end on its own, and an
// exception that escapes it is logged as
// "[Zephro] <what> failed: <the error's description>" instead of vanishing.
void detach(QCoro::Task<> task, std::string what);

template <typename T>
void detach(QCoro::Task<T> task, std::string what);

// The description used in log lines for an exception of any kind.
[[nodiscard]] std::string describeException(const std::exception_ptr& error);

// Detached tasks that have not ended yet, so that whoever owns what they use (a test's
// helper and view model) can let them finish first. Main thread only.
[[nodiscard]] int runningDetachedTasks();

namespace detail {
void logDetachedFailure(const std::string& what, const std::exception_ptr& error);

// Counts a detached task from its start to its end, however it ends.
class DetachedTaskCount {
 public:
  DetachedTaskCount();
  ~DetachedTaskCount();
  DetachedTaskCount(const DetachedTaskCount&) = delete;
  DetachedTaskCount& operator=(const DetachedTaskCount&) = delete;
};

// A plain function (not a capturing lambda): its parameters live in its frame for as
// long as it runs.
template <typename T>
QCoro::Task<> awaitDetached(QCoro::Task<T> task, std::string what) {
  const DetachedTaskCount counted;
  try {
    co_await task;
  } catch (...) {
    logDetachedFailure(what, std::current_exception());
  }
}
}  // namespace detail

template <typename T>
void detach(QCoro::Task<T> task, std::string what) {
  // The returned task is dropped at once; QCoro keeps the frame until it finishes.
  detail::awaitDetached(std::move(task), std::move(what));
}

}  // namespace zephro
