#include <gtest/gtest.h>
#include <sys/wait.h>
#include <systemd/sd-id128.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "platform/error/Error.h"
#include "platform/journal/UnifiedLog.h"
#include "platform/systeminfo/SystemInfo.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

// Described errors print through the logs of the application and helper tests.
TEST(Error, DescriptionsPrintLikeFoundationWithOrWithoutUserInformation) {
  const Error bare{"HelperError", -3, {}};
  EXPECT_EQ(bare.fullDescription(), "Error Domain=HelperError Code=-3 \"(null)\"");
  EXPECT_EQ(bare.localizedDescription(),
            "The operation couldn\u2019t be completed. (HelperError error -3.)");
}

TEST(SystemInfo, ModelComesFromTheFirmwareOrIsUnknown) {
  testing::TempDir dir;
  const struct {
    const char* content;
    const char* model;
    bool air;
  } cases[] = {
      {"MacBookPro16,1   \n", "MacBookPro16,1", false},
      {"macbookair10,1", "macbookair10,1", true},
      {"\n", "unknown", false},
  };
  for (const auto& [content, model, air] : cases) {
    SCOPED_TRACE(content);
    std::ofstream(dir / "product_name") << content;
    EXPECT_EQ(SystemInfo::model(dir / "product_name"), model);
    EXPECT_EQ(SystemInfo::isMacBookAir(SystemInfo::model(dir / "product_name")), air);
  }
}

TEST(UnifiedLog, ReadsTheLastLinesOfThisProcessOnTheAppSubsystemSinceBoot) {
  std::filesystem::path remote = "/lib/systemd/systemd-journal-remote";
  if (!std::filesystem::exists(remote)) remote = "/usr/lib/systemd/systemd-journal-remote";
  if (!std::filesystem::exists(remote))
    GTEST_SKIP() << "systemd-journal-remote is not installed (scripts/install-deps)";
  sd_id128_t boot{};
  sd_id128_t otherBoot{};
  ASSERT_EQ(sd_id128_get_boot(&boot) | sd_id128_randomize(&otherBoot), 0);
  std::array<char, SD_ID128_STRING_MAX> text{};
  const std::string thisBoot = sd_id128_to_string(boot, text.data());
  const std::string lastBoot = sd_id128_to_string(otherBoot, text.data());
  const std::string app = "com.zephro.app";
  constexpr pid_t pid = 4242;
  // One entry of the journal's export format; no message when it is empty.
  std::uint64_t realtimeUsec = 1'700'000'000'000'000;
  const auto exportEntry = [&](std::uint64_t monotonicUsec, const std::string& bootId,
                               pid_t process, const std::string& subsystem,
                               const std::string& category, const std::string& message) {
    return "__REALTIME_TIMESTAMP=" + std::to_string(++realtimeUsec) +
           "\n__MONOTONIC_TIMESTAMP=" + std::to_string(monotonicUsec) + "\n_BOOT_ID=" + bootId +
           "\n_PID=" + std::to_string(process) + "\nZEPHRO_SUBSYSTEM=" + subsystem +
           "\nZEPHRO_CATEGORY=" + category + "\n" +
           (message.empty() ? "" : "MESSAGE=" + message + "\n") + "\n";
  };

  // Each kept line sits among the entries that must be left out.
  std::string entries = exportEntry(500'000, thisBoot, pid, app, "app", "too early");
  std::vector<std::string> kept;
  for (std::uint64_t i = 0; i < 450; ++i) {
    const std::uint64_t at = 2'000'000 + (i * 10);
    const std::string category = i % 2 == 0 ? "app" : "fans";
    const std::string message = "line " + std::to_string(i);
    entries += exportEntry(at, thisBoot, pid, app, category, message) +
               exportEntry(at + 1, thisBoot, pid, "com.zephro.helper", "app", "other subsystem") +
               exportEntry(at + 2, thisBoot, pid + 1, app, "app", "other pid") +
               exportEntry(at + 3, lastBoot, pid, app, "app", "other boot") +
               exportEntry(at + 4, thisBoot, pid, app, "app", "");
    kept.push_back("[" + category + "] " + message);
  }
  const testing::TempDir dir;
  // A real journal file: systemd-journal-remote reads the export format on stdin.
  const std::string command = remote.string() + " --output=" + (dir / "x.journal").string() + " -";
  FILE* const pipe = popen(command.c_str(), "w");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(std::fwrite(entries.data(), 1, entries.size(), pipe), entries.size());
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;

  const auto lastLines = [&](const std::string& file) {
    return journal::UnifiedLog::recentLogLines(200, journal::JournalSource::files({dir / file}),
                                               pid);
  };
  EXPECT_EQ(lastLines("x.journal"), std::vector<std::string>(kept.end() - 200, kept.end()));
  EXPECT_EQ(lastLines("missing.journal"), std::vector<std::string>{});
}

}  // namespace
}  // namespace zephro
