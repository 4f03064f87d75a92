#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <variant>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include "app/core/Detach.h"

namespace zephro::testing {

// How a task ended: its value, or the exception it threw.
template <typename T>
struct Outcome {
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
  bool finished = false;
  std::optional<Value> value;
  std::exception_ptr error;

  [[nodiscard]] bool succeeded() const { return finished && !error; }
  // what() of the exception, or "" when there is none.
  [[nodiscard]] std::string errorText() const {
    if (!error) return {};
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      return e.what();
    } catch (...) {
      return "unknown exception";
    }
  }
  template <typename E>
  [[nodiscard]] std::optional<E> errorAs() const {
    if (!error) return std::nullopt;
    try {
      std::rethrow_exception(error);
    } catch (const E& e) {
      return e;
    } catch (...) {
      return std::nullopt;
    }
  }
};

namespace detail {
template <typename T>
struct Watch {
  Outcome<T> outcome;
  QPointer<QEventLoop> loop;
};

template <typename T>
QCoro::Task<> watch(QCoro::Task<T> task, std::shared_ptr<Watch<T>> state) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await task;
      state->outcome.value.emplace();
    } else {
      state->outcome.value.emplace(co_await task);
    }
  } catch (...) {
    state->outcome.error = std::current_exception();
  }
  state->outcome.finished = true;
  if (state->loop) state->loop->quit();
}
}  // namespace detail

// Runs the main event loop until the task has ended, or the guard has passed (a
// failed test, never a timing assumption: the guard is far beyond any real wait).
template <typename T>
Outcome<T> awaitTask(QCoro::Task<T> task,
                     std::chrono::milliseconds guard = std::chrono::seconds(120)) {
  auto state = std::make_shared<detail::Watch<T>>();
  QEventLoop loop;
  state->loop = &loop;
  detail::watch(std::move(task), state);
  if (!state->outcome.finished) {
    QTimer::singleShot(guard, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return state->outcome;
}

// Turns the event loop until the condition holds or the guard passes; the condition's value.
inline bool spinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds guard = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace zephro::testing
