#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace zephro::journal {

// Which journal to read: the machine's own, or given journal files (tests, or a
// journal someone sent in).
class JournalSource {
 public:
  [[nodiscard]] static JournalSource currentSystem();
  [[nodiscard]] static JournalSource files(std::vector<std::filesystem::path> paths);

  [[nodiscard]] bool isCurrentSystem() const { return currentSystem_; }
  // Empty for the current system.
  [[nodiscard]] const std::vector<std::filesystem::path>& paths() const { return paths_; }

 private:
  JournalSource(bool currentSystem, std::vector<std::filesystem::path> paths);

  bool currentSystem_;
  std::vector<std::filesystem::path> paths_;
};

// Reads back what log::write sent to the journal with a channel.
class UnifiedLog {
 public:
  // The last `limit` lines the process wrote on the "com.zephro.app" subsystem
  // during this boot, oldest first, each as "[category] message". Lines from the
  // first second after boot are left out. Empty when the journal cannot be read.
  [[nodiscard]] static std::vector<std::string> recentLogLines(
      std::size_t limit, const JournalSource& source = JournalSource::currentSystem(),
      pid_t pid = getpid());
};

}  // namespace zephro::journal
