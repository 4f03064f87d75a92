#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <thread>

#include "platform/log/Format.h"
#include "platform/log/Log.h"

namespace zephro::log {
namespace {

TEST(LogFormat, DoublesAreShortestAndAlwaysLookLikeDoubles) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {2500.0, "2500.0"}, {0.1, "0.1"},
      {1e300, "1e+300"},  {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {kInf, "inf"},      {-kInf, "-inf"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(format::shortestDouble(value), text);
}

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

// The only test that sets a default channel, after checking the lines without one.
TEST(LogCapture, InnermostCaptureReceivesLinesWithChannelAndLevelFromEveryThread) {
  const Channel fans{"com.zephro.app", "fans"};
  const Channel app{"com.zephro.app", "app"};
  Capture outer;
  write("one");
  {
    Capture inner;
    write(fans, Level::error, "two");
    EXPECT_EQ(inner.entries(), (std::vector<Capture::Entry>{{fans, Level::error, "two"}}));
  }
  write(fans, Level::info, "three");
  setDefaultChannel(app);
  write("defaulted");
  EXPECT_EQ(outer.entries(), (std::vector<Capture::Entry>{
                                 {{}, Level::notice, "one"},
                                 {fans, Level::info, "three"},
                                 {app, Level::notice, "defaulted"},
                             }));
  EXPECT_TRUE(outer.contains("one"));
  EXPECT_FALSE(outer.contains("on"));

  const Capture many;
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([] {
        for (int i = 0; i < 250; ++i) write("line");
      });
    }
  }
  EXPECT_EQ(many.lines(), std::vector<std::string>(1000, "line"));
}

// Every line goes to the journal and, unless stderr is the journal's stream, to stderr too.
TEST(LogDestination, LinesOutsideACaptureReachStderrOnce) {
  const Channel fans{"com.zephro.app", "fans"};
  FILE* const file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fflush(stderr);
  const int saved = ::dup(2);
  ASSERT_EQ(::dup2(::fileno(file), 2), 2);
  write(fans, Level::error, "an error");
  write(fans, Level::notice, "a notice");
  write(fans, Level::info, "some info");
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  std::rewind(file);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  EXPECT_EQ(text, "an error\na notice\nsome info\n");
}

}  // namespace
}  // namespace zephro::log
