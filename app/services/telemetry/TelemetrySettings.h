#pragma once

#include <QUrl>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zephro::telemetry {

// Where reports go and where the pending crash and the log lines come from. The shared
// settings are made once per process; tests make their own.
struct TelemetrySettings {
  // The service's base address; the endpoint paths are appended to its path.
  QUrl baseUrl;
  // "Zephro" in the user's data folder; empty when there is none.
  std::filesystem::path dataFolder;
  // The application's recent log lines, the last `limit` of them.
  std::function<std::vector<std::string>(std::size_t limit)> recentLogLines;
  // A request ends when no data moved for idleTimeout, and in any case after
  // resourceTimeout. (The request's own 60 s is longer than both, so these decide.)
  std::chrono::milliseconds idleTimeout{15000};
  std::chrono::milliseconds resourceTimeout{30000};

  // The build's base address (ZEPHRO_TELEMETRY_URL at build time) unless the environment
  // variable ZEPHRO_TELEMETRY_URL names another; $XDG_DATA_HOME/Zephro (or
  // ~/.local/share/Zephro); this process's lines of the journal.
  [[nodiscard]] static const TelemetrySettings& shared();

  // dataFolder/pending-crash.json, after creating the folder; nothing without a folder.
  [[nodiscard]] std::optional<std::filesystem::path> pendingCrashFile() const;
  // The base address with path appended to its path.
  [[nodiscard]] QUrl endpoint(const QString& path) const;
};

// The data folder that stands in for Application Support: $XDG_DATA_HOME/Zephro, else
// $HOME/.local/share/Zephro; empty when neither variable is set.
[[nodiscard]] std::filesystem::path defaultDataFolder();

}  // namespace zephro::telemetry
