#pragma once

#include <atomic>
#include <chrono>

namespace zephro::smc {

// The emulated controller's sense of time. Wall-clock based by default so two
// processes sharing one state file agree on how much time has passed.
class Clock {
 public:
  virtual ~Clock() = default;
  // Time since the Unix epoch.
  [[nodiscard]] virtual std::chrono::nanoseconds now() const = 0;
};

class SystemClock final : public Clock {
 public:
  [[nodiscard]] std::chrono::nanoseconds now() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
  }
};

// A clock that moves only when told to; tests step it.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::chrono::nanoseconds start = std::chrono::hours(24 * 365 * 50))
      : now_(start.count()) {}
  [[nodiscard]] std::chrono::nanoseconds now() const override {
    return std::chrono::nanoseconds(now_.load());
  }
  void advance(std::chrono::nanoseconds step) { now_ += step.count(); }

 private:
  std::atomic<std::int64_t> now_;
};

}  // namespace zephro::smc
