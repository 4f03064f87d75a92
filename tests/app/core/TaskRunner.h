#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>

#include <QCoro/QCoroTask>

#include "tests/support/SpinUntil.h"

namespace zephro::testing {

template <typename T>
struct Outcome {
  std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
  std::exception_ptr error;

  [[nodiscard]] bool succeeded() const { return value.has_value(); }
  template <typename E>
  [[nodiscard]] std::optional<E> errorAs() const {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const E& e) {
      return e;
    } catch (...) {
    }
    return std::nullopt;
  }
  [[nodiscard]] std::string errorText() const {
    const auto e = errorAs<std::runtime_error>();
    return e ? e->what() : (error ? "an exception of another kind" : "");
  }
};

template <typename T>
Outcome<T> awaitTask(QCoro::Task<T> task,
                     std::chrono::milliseconds guard = std::chrono::seconds(120)) {
  const auto outcome = std::make_shared<Outcome<T>>();
  [](QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome) -> QCoro::Task<> {
    try {
      if constexpr (std::is_void_v<T>) {
        co_await task;
        outcome->value.emplace();
      } else {
        outcome->value.emplace(co_await task);
      }
    } catch (...) {
      outcome->error = std::current_exception();
    }
  }(std::move(task), outcome);
  spinUntil([&] { return outcome->value || outcome->error; }, guard);
  return *outcome;
}

// Whether the task ended without an exception.
template <typename T>
bool ran(QCoro::Task<T> task) {
  return awaitTask(std::move(task)).succeeded();
}

}  // namespace zephro::testing
