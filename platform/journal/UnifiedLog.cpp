#include "platform/journal/UnifiedLog.h"

#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace zephro::journal {
namespace {

constexpr std::string_view subsystem = "com.zephro.app";
// Boot-time lines come before the application could have started.
constexpr std::uint64_t afterBootUsec = 1'000'000;

struct JournalCloser {
  void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};
using Journal = std::unique_ptr<sd_journal, JournalCloser>;

Journal open(const JournalSource& source) {
  sd_journal* journal = nullptr;
  int result = 0;
  if (source.isCurrentSystem()) {
    result = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY);
  } else {
    std::vector<std::string> names;
    names.reserve(source.paths().size());
    for (const auto& path : source.paths()) names.push_back(path.string());
    std::vector<const char*> arguments;
    arguments.reserve(names.size() + 1);
    for (const auto& name : names) arguments.push_back(name.c_str());
    arguments.push_back(nullptr);
    result = sd_journal_open_files(&journal, arguments.data(), 0);
  }
  if (result < 0) return nullptr;
  return Journal(journal);
}

bool addMatch(sd_journal* journal, const std::string& match) {
  return sd_journal_add_match(journal, match.data(), match.size()) >= 0;
}

// The value of the current entry's field. The data is "FIELD=value", not
// NUL-terminated, and only valid until the next read, so it is copied out.
std::optional<std::string> field(sd_journal* journal, std::string_view name) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(journal, std::string(name).c_str(), &data, &length) < 0) {
    return std::nullopt;
  }
  const std::string_view text(static_cast<const char*>(data), length);
  if (text.size() <= name.size() || !text.starts_with(name) || text[name.size()] != '=') {
    return std::nullopt;
  }
  return std::string(text.substr(name.size() + 1));
}

}  // namespace

JournalSource::JournalSource(bool currentSystem, std::vector<std::filesystem::path> paths)
    : currentSystem_(currentSystem), paths_(std::move(paths)) {}

JournalSource JournalSource::currentSystem() {
  return {true, {}};
}

JournalSource JournalSource::files(std::vector<std::filesystem::path> paths) {
  return {false, std::move(paths)};
}

std::vector<std::string> UnifiedLog::recentLogLines(std::size_t limit, const JournalSource& source,
                                                    pid_t pid) {
  if (limit == 0) return {};
  sd_id128_t boot{};
  if (sd_id128_get_boot(&boot) < 0) return {};
  const Journal journal = open(source);
  if (!journal) return {};

  std::array<char, SD_ID128_STRING_MAX> bootText{};
  sd_id128_to_string(boot, bootText.data());
  if (!addMatch(journal.get(), "_PID=" + std::to_string(pid)) ||
      !addMatch(journal.get(), "_BOOT_ID=" + std::string(bootText.data())) ||
      !addMatch(journal.get(), "ZEPHRO_SUBSYSTEM=" + std::string(subsystem)) ||
      sd_journal_seek_monotonic_usec(journal.get(), boot, afterBootUsec) < 0) {
    return {};
  }

  std::deque<std::string> recent;
  int step = 0;
  while ((step = sd_journal_next(journal.get())) > 0) {
    const std::optional<std::string> message = field(journal.get(), "MESSAGE");
    if (!message) continue;
    const std::string category = field(journal.get(), "ZEPHRO_CATEGORY").value_or("");
    recent.push_back("[" + category + "] " + *message);
    if (recent.size() > limit) recent.pop_front();
  }
  if (step < 0) return {};
  return {std::make_move_iterator(recent.begin()), std::make_move_iterator(recent.end())};
}

}  // namespace zephro::journal
