#include "platform/posix/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/posix/FileDescriptor.h"

namespace zephro::proc {
namespace {

[[noreturn]] void answerAndExit(int fd, std::span<std::byte> result,
                                const std::function<void(std::span<std::byte>)>& work) {
  try {
    work(result);
  } catch (...) {
    ::_exit(1);
  }
  const std::byte* data = result.data();
  std::size_t left = result.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(1);
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  // Nothing of the parent's may run here: no exit handlers, no flushing of its buffers.
  ::_exit(0);
}

// Reads all of `result` from the child's pipe unless the deadline passes first.
bool readAnswer(int fd, std::span<std::byte> result,
                std::chrono::steady_clock::time_point deadline) {
  std::size_t got = 0;
  while (got < result.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    const int ready =
        ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 60000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;  // time-outs are judged above
    const ssize_t n = ::read(fd, result.data() + got, result.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // the child ended without a full answer
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool runInChild(std::chrono::steady_clock::time_point deadline, std::span<std::byte> result,
                const std::function<void(std::span<std::byte>)>& work) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  FileDescriptor readEnd(fds[0]);
  FileDescriptor writeEnd(fds[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    readEnd.reset();
    answerAndExit(writeEnd.get(), result, work);
  }
  writeEnd.reset();
  const bool answered = readAnswer(readEnd.get(), result, deadline);
  if (!answered) ::kill(pid, SIGKILL);
  return reap(pid) && answered;
}

}  // namespace zephro::proc
