#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/Wakeup.h"

namespace zephro {

// The process that forced the fans, pinned by a pidfd so that a recycled PID is
// never taken for it.
struct LeaseHolder {
  pid_t pid = 0;
  FileDescriptor pidfd;
};

// Who answers for forced fans. The holder is the process that made the last request
// forcing them; when it exits the lease expires and the service hands the fans
// back. Each grant and end starts a new term, so an expiry can tell whether a
// request changed the mode after the holder had already gone.
//
// One thread waits on the holder's pidfd, which becomes readable when the process
// exits; nothing polls /proc.
class FanLease {
 public:
  // Runs on the lease's own thread with the term that expired and the holder's pid.
  using Expired = std::function<void(std::uint64_t term, pid_t pid)>;

  explicit FanLease(Expired onExpired);
  ~FanLease();
  FanLease(const FanLease&) = delete;
  FanLease& operator=(const FanLease&) = delete;

  // `holder` now answers for the fans, in place of any earlier holder. A holder
  // without a pidfd cannot be watched and is not remembered. Returns the new term.
  std::uint64_t grant(std::shared_ptr<const LeaseHolder> holder);
  // Nobody answers for the fans any more (they are back with the firmware).
  void end();
  [[nodiscard]] std::uint64_t term() const;

 private:
  void watch();

  Expired onExpired_;
  mutable std::mutex mutex_;
  std::shared_ptr<const LeaseHolder> holder_;
  std::uint64_t term_ = 0;
  Wakeup wakeup_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace zephro
