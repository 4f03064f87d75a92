#include "app/core/TimerThread.h"

namespace zephro {

TimerThread::TimerThread() : thread_([this] { run(); }) {}

TimerThread::~TimerThread() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

TimerThread& TimerThread::shared() {
  static TimerThread instance;
  return instance;
}

void TimerThread::schedule(Clock::duration delay, std::function<void()> work) {
  {
    const std::lock_guard lock(mutex_);
    items_.emplace(Clock::now() + delay, std::move(work));
  }
  wake_.notify_one();
}

void TimerThread::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (items_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto next = items_.begin();
    if (Clock::now() < next->first) {
      wake_.wait_until(lock, next->first);
      continue;
    }
    auto work = std::move(next->second);
    items_.erase(next);
    lock.unlock();
    work();
    // Whatever the item held is released here, outside the lock.
    work = nullptr;
    lock.lock();
  }
}

}  // namespace zephro
