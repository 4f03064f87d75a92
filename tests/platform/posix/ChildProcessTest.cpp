#include "platform/posix/ChildProcess.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zephro::proc {
namespace {

using namespace std::chrono_literals;

TEST(ChildProcess, AnswersComeBackAndAChildThatHangsOrFailsIsKilledAtTheDeadline) {
  const auto soon = [] { return std::chrono::steady_clock::now() + 200ms; };
  const auto later = [] { return std::chrono::steady_clock::now() + 60s; };
  EXPECT_EQ(runInChild<int>(later(), [] { return 42; }), 42);
  // The child's pid, not ours: the work ran in another process.
  EXPECT_NE(runInChild<pid_t>(later(), [] { return ::getpid(); }), ::getpid());
  EXPECT_EQ(runInChild<int>(later(), []() -> int { throw std::runtime_error("no"); }),
            std::nullopt);
  EXPECT_EQ(runInChild<int>(soon(),
                            [] {
                              for (;;) ::pause();
                              return 0;
                            }),
            std::nullopt);
  // Every child was reaped: none is left to wait for.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace zephro::proc
