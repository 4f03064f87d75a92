#include "platform/log/Log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zephro::log {
namespace {

TEST(LogCapture, InnermostCaptureReceivesLinesAndOuterResumesAfterIt) {
  Capture outer;
  write("one");
  {
    Capture inner;
    write("two");
    EXPECT_EQ(inner.lines(), std::vector<std::string>{"two"});
  }
  write("three");
  EXPECT_EQ(outer.lines(), (std::vector<std::string>{"one", "three"}));
  EXPECT_EQ(outer.linesStartingWith("th"), std::vector<std::string>{"three"});
  EXPECT_TRUE(outer.contains("one"));
  EXPECT_FALSE(outer.contains("on"));
}

TEST(LogCapture, KeepsEveryLineWrittenFromManyThreads) {
  Capture capture;
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 250; ++i) write("line");
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(capture.lines().size(), 1000U);
}

}  // namespace
}  // namespace zephro::log
