#pragma once

#include <coroutine>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace zephro {

namespace detail {
// Queues the resumption on the main thread's event loop.
void resumeOnMainThread(std::coroutine_handle<> handle);
}  // namespace detail

// The one outcome of one call, settled by whichever of reply, transport error or
// time-out comes first; the later ones find it settled and do nothing. They may race
// on any threads. The awaiting coroutine is resumed exactly once, on the main thread.
//
// Shared ownership: everyone that may settle it (reply handler, error handler, the
// time-out) holds it, so it lives until the last of them has run.
template <typename T>
class PendingReply {
 public:
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

  [[nodiscard]] static std::shared_ptr<PendingReply> make() {
    return std::shared_ptr<PendingReply>(new PendingReply());
  }

  PendingReply(const PendingReply&) = delete;
  PendingReply& operator=(const PendingReply&) = delete;

  // True when this call settled it.
  bool resolve(Value value = {}) {
    return settle(Outcome(std::in_place_index<0>, std::move(value)));
  }
  bool reject(std::exception_ptr error) {
    return settle(Outcome(std::in_place_index<1>, std::move(error)));
  }
  template <typename E>
  bool reject(E error) {
    return reject(std::make_exception_ptr(std::move(error)));
  }

  [[nodiscard]] bool isSettled() const {
    const std::lock_guard lock(mutex_);
    return outcome_.has_value();
  }

  class Awaiter {
   public:
    explicit Awaiter(PendingReply& reply) : reply_(reply) {}
    bool await_ready() const noexcept { return false; }
    // Settled already: carry on without suspending; otherwise the settler resumes us.
    bool await_suspend(std::coroutine_handle<> handle) {
      const std::lock_guard lock(reply_.mutex_);
      if (reply_.outcome_) return false;
      reply_.waiter_ = handle;
      return true;
    }
    T await_resume() {
      auto outcome = [this] {
        const std::lock_guard lock(reply_.mutex_);
        return std::move(*reply_.outcome_);
      }();
      if (outcome.index() == 1) std::rethrow_exception(std::get<1>(outcome));
      if constexpr (!std::is_void_v<T>) return std::move(std::get<0>(outcome));
    }

   private:
    PendingReply& reply_;
  };

  // Awaited once, by the one caller.
  Awaiter operator co_await() { return Awaiter(*this); }

 private:
  using Outcome = std::variant<Value, std::exception_ptr>;

  PendingReply() = default;

  bool settle(Outcome outcome) {
    std::coroutine_handle<> waiter;
    {
      const std::lock_guard lock(mutex_);
      if (outcome_) return false;
      outcome_ = std::move(outcome);
      waiter = std::exchange(waiter_, {});
    }
    if (waiter) detail::resumeOnMainThread(waiter);
    return true;
  }

  mutable std::mutex mutex_;
  std::optional<Outcome> outcome_;
  std::coroutine_handle<> waiter_;
};

}  // namespace zephro
