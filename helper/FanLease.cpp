#include "helper/FanLease.h"

#include <poll.h>

#include <array>
#include <cerrno>

namespace zephro {

FanLease::FanLease(Expired onExpired)
    : onExpired_(std::move(onExpired)), thread_([this] { watch(); }) {}

FanLease::~FanLease() {
  stopping_ = true;
  wakeup_.signal();
  thread_.join();
}

std::uint64_t FanLease::grant(std::shared_ptr<const LeaseHolder> holder) {
  const std::lock_guard lock(mutex_);
  holder_ = holder && holder->pidfd.valid() ? std::move(holder) : nullptr;
  ++term_;
  wakeup_.signal();
  return term_;
}

void FanLease::end() {
  const std::lock_guard lock(mutex_);
  holder_.reset();
  ++term_;
  wakeup_.signal();
}

std::uint64_t FanLease::term() const {
  const std::lock_guard lock(mutex_);
  return term_;
}

void FanLease::watch() {
  while (!stopping_) {
    std::shared_ptr<const LeaseHolder> holder;
    std::uint64_t term = 0;
    {
      const std::lock_guard lock(mutex_);
      holder = holder_;
      term = term_;
    }
    std::array<pollfd, 2> fds{
        {{wakeup_.fd(), POLLIN, 0}, {holder ? holder->pidfd.get() : -1, POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
    if (fds[0].revents != 0) {
      wakeup_.drain();
      continue;
    }
    if (fds[1].revents == 0 || stopping_) continue;
    {
      // Only the term that was watched expires; a grant since then keeps its holder.
      const std::lock_guard lock(mutex_);
      if (term_ != term) continue;
      holder_.reset();
    }
    onExpired_(term, holder->pid);
  }
}

}  // namespace zephro
