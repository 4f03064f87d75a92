#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace zephro {

// Runs work items after a delay on a thread of its own, off the main thread, so a time-out
// fires even while the main thread is busy. Items are never cancelled; whatever an item
// holds stays alive until it has run (or the timer thread ends with the process).
class TimerThread {
 public:
  using Clock = std::chrono::steady_clock;

  TimerThread();
  ~TimerThread();
  TimerThread(const TimerThread&) = delete;
  TimerThread& operator=(const TimerThread&) = delete;

  // The process-wide instance.
  [[nodiscard]] static TimerThread& shared();

  void schedule(Clock::duration delay, std::function<void()> work);

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<Clock::time_point, std::function<void()>> items_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace zephro
