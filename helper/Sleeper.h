#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace zephro {

// Where the fan sequences wait for the firmware. Production sleeps; tests record.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// Blocks the calling thread.
class ThreadSleeper final : public Sleeper {
 public:
  void sleepFor(std::chrono::milliseconds duration) override;
};

// Returns at once and remembers what was asked; an optional hook lets a test move
// an emulated clock by the same amount.
class RecordingSleeper final : public Sleeper {
 public:
  using Hook = std::function<void(std::chrono::milliseconds)>;
  explicit RecordingSleeper(Hook hook = {}) : hook_(std::move(hook)) {}

  void sleepFor(std::chrono::milliseconds duration) override;
  [[nodiscard]] std::vector<std::chrono::milliseconds> requests() const;
  [[nodiscard]] std::chrono::milliseconds total() const;
  void clear();

 private:
  Hook hook_;
  mutable std::mutex mutex_;
  std::vector<std::chrono::milliseconds> requests_;
};

}  // namespace zephro
