#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zephro::update {

// What the updater remembers between runs, kept in one small JSON file.
struct UpdaterMemory {
  // The answer to the one-time permission question, once asked.
  std::optional<bool> automaticChecks;
  // The highest version any feed has offered: a feed that later offers less is an
  // old feed replayed, and its item is refused.
  std::string highestOfferedVersion;

  // An absent or unreadable file is an empty memory.
  [[nodiscard]] static UpdaterMemory load(const std::filesystem::path& file);
  // Replaces the file atomically; false when it cannot be written.
  [[nodiscard]] bool save(const std::filesystem::path& file) const;
};

}  // namespace zephro::update
