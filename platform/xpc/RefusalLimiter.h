#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>

namespace zephro::xpc {

// Keeps a user whose connections keep being refused from costing the service a check
// each: after `maxRefusals` refusals within `window`, the user's next connections
// are closed at once until `pause` has passed.
class RefusalLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    std::size_t maxRefusals = 10;
    std::chrono::milliseconds window{10000};
    std::chrono::milliseconds pause{30000};
    // Users remembered at once; past it the one refused longest ago is forgotten.
    std::size_t maxUsers = 1024;
  };

  explicit RefusalLimiter(Limits limits) : limits_(limits) {}

  // Whether a connection of `uid` may be checked now.
  [[nodiscard]] bool admits(uid_t uid, Clock::time_point now);
  // Counts a refusal; true when it starts a pause for the user.
  bool refused(uid_t uid, Clock::time_point now);

 private:
  struct Record {
    std::size_t refusals = 0;
    Clock::time_point windowStart;
    Clock::time_point pausedUntil;
    Clock::time_point last;
  };

  void forgetOldest();

  Limits limits_;
  std::mutex mutex_;
  std::map<uid_t, Record> records_;
};

}  // namespace zephro::xpc
