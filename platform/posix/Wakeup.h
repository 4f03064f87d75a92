#pragma once

#include "platform/posix/FileDescriptor.h"

namespace zephro {

// An eventfd that wakes a thread blocked in poll() on fd().
class Wakeup {
 public:
  // Throws std::system_error when no eventfd can be had.
  Wakeup();
  void signal() const;
  void drain() const;
  [[nodiscard]] int fd() const { return fd_.get(); }

 private:
  FileDescriptor fd_;
};

}  // namespace zephro
