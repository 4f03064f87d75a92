#include "platform/xpc/RefusalLimiter.h"

#include <algorithm>

namespace zephro::xpc {

bool RefusalLimiter::admits(uid_t uid, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  const auto found = records_.find(uid);
  return found == records_.end() || now >= found->second.pausedUntil;
}

bool RefusalLimiter::refused(uid_t uid, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  if (!records_.contains(uid) && records_.size() >= limits_.maxUsers) forgetOldest();
  auto& record = records_[uid];
  record.last = now;
  if (record.refusals == 0 || now - record.windowStart >= limits_.window) {
    record.refusals = 0;
    record.windowStart = now;
  }
  if (++record.refusals < limits_.maxRefusals) return false;
  record.refusals = 0;
  record.pausedUntil = now + limits_.pause;
  return true;
}

void RefusalLimiter::forgetOldest() {
  const auto oldest = std::min_element(records_.begin(), records_.end(), [](auto& a, auto& b) {
    return std::max(a.second.last, a.second.pausedUntil) <
           std::max(b.second.last, b.second.pausedUntil);
  });
  if (oldest != records_.end()) records_.erase(oldest);
}

}  // namespace zephro::xpc
