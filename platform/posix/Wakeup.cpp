#include "platform/posix/Wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace zephro {

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_.valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void Wakeup::signal() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto ignored = ::write(fd_.get(), &one, sizeof(one));
}

void Wakeup::drain() const {
  std::uint64_t value = 0;
  [[maybe_unused]] const auto ignored = ::read(fd_.get(), &value, sizeof(value));
}

}  // namespace zephro
