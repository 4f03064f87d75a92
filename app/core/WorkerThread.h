#pragma once

#include <functional>
#include <type_traits>

#include <QCoro/QCoroTask>
#include <QThreadPool>

#include "app/core/PendingReply.h"

namespace zephro {

// Runs blocking work on a pool thread and resumes the awaiting coroutine on the main
// thread with its result or its exception. The main event loop keeps turning meanwhile.
template <typename Work, typename Result = std::invoke_result_t<Work>>
QCoro::Task<Result> onWorkerThread(Work work) {
  const auto pending = PendingReply<Result>::make();
  QThreadPool::globalInstance()->start([pending, work = std::move(work)]() mutable {
    try {
      if constexpr (std::is_void_v<Result>) {
        work();
        pending->resolve();
      } else {
        pending->resolve(work());
      }
    } catch (...) {
      pending->reject(std::current_exception());
    }
  });
  co_return co_await *pending;
}

}  // namespace zephro
