#include "platform/log/Log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include <thread>
#include <vector>

namespace zephro::log {
namespace {

TEST(LogDestination, StderrAloneOnlyWhenItIsTheJournalStreamNamed) {
  struct stat info {};
  ASSERT_EQ(::fstat(2, &info), 0);
  const auto named = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  const auto other = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino + 1);
  EXPECT_FALSE(isJournalStream(2, nullptr));
  const struct {
    std::string journalStream;
    bool journal;
  } cases[] = {
      {"", false}, {"garbage", false}, {named, true}, {named + "x", false}, {other, false},
  };
  for (const auto& [journalStream, journal] : cases) {
    EXPECT_EQ(isJournalStream(2, journalStream.c_str()), journal) << journalStream;
  }
}

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

// The only test that sets a default channel, after checking the lines without one.
TEST(LogCapture, RecordsEachLinesChannelAndLevel) {
  const Channel fans{"com.zephro.app", "fans"};
  const Channel app{"com.zephro.app", "app"};
  const Capture capture;
  write("plain");
  write(fans, Level::error, "failed");
  write(fans, Level::info, "started");
  setDefaultChannel(app);
  write("defaulted");
  EXPECT_EQ(capture.entries(), (std::vector<Capture::Entry>{
                                   {{}, Level::notice, "plain"},
                                   {fans, Level::error, "failed"},
                                   {fans, Level::info, "started"},
                                   {app, Level::notice, "defaulted"},
                               }));
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"plain", "failed", "started", "defaulted"}));
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
