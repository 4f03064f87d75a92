#include "helper/Sleeper.h"

#include <numeric>
#include <thread>

namespace zephro {

void ThreadSleeper::sleepFor(std::chrono::milliseconds duration) {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

void RecordingSleeper::sleepFor(std::chrono::milliseconds duration) {
  {
    const std::lock_guard lock(mutex_);
    requests_.push_back(duration);
  }
  if (hook_) hook_(duration);
}

std::vector<std::chrono::milliseconds> RecordingSleeper::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::chrono::milliseconds RecordingSleeper::total() const {
  const std::lock_guard lock(mutex_);
  return std::accumulate(requests_.begin(), requests_.end(), std::chrono::milliseconds{0});
}

void RecordingSleeper::clear() {
  const std::lock_guard lock(mutex_);
  requests_.clear();
}

}  // namespace zephro
