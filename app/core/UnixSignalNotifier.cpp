#include "app/core/UnixSignalNotifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace zephro {

namespace {

// The handler may only do async-signal-safe work: it writes the signal number to a pipe.
std::atomic<int> writeFd{-1};

void onSignal(int signalNumber) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signalNumber);
  const int fd = writeFd.load();
  if (fd >= 0) {
    [[maybe_unused]] const auto ignored = write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

UnixSignalNotifier::UnixSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent), signalNumbers_(signalNumbers) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
  int none = -1;
  if (!writeFd.compare_exchange_strong(none, fds[1])) {
    close(fds[0]);
    close(fds[1]);
    throw std::logic_error("only one UnixSignalNotifier may exist at a time");
  }
  readFd_ = fds[0];
  notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &UnixSignalNotifier::drain);

  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  previous_.resize(signalNumbers_.size());
  for (std::size_t i = 0; i < signalNumbers_.size(); ++i) {
    sigaction(signalNumbers_[i], &action, &previous_[i]);
  }
}

UnixSignalNotifier::~UnixSignalNotifier() {
  for (std::size_t i = 0; i < signalNumbers_.size(); ++i) {
    sigaction(signalNumbers_[i], &previous_[i], nullptr);
  }
  notifier_.reset();
  close(writeFd.exchange(-1));
  close(readFd_);
}

void UnixSignalNotifier::drain() {
  unsigned char byte = 0;
  while (read(readFd_, &byte, 1) == 1) emit received(byte);
}

}  // namespace zephro
