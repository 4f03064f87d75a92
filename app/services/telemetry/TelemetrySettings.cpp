#include "app/services/telemetry/TelemetrySettings.h"

#include <cstdlib>
#include <system_error>

#include "platform/journal/UnifiedLog.h"

namespace zephro::telemetry {

const TelemetrySettings& TelemetrySettings::shared() {
  static const TelemetrySettings settings = [] {
    TelemetrySettings made;
    const QByteArray override = qgetenv("ZEPHRO_TELEMETRY_URL");
    made.baseUrl = QUrl(override.isEmpty() ? QStringLiteral(ZEPHRO_TELEMETRY_URL)
                                           : QString::fromUtf8(override));
    made.dataFolder = defaultDataFolder();
    made.recentLogLines = [](std::size_t limit) {
      return journal::UnifiedLog::recentLogLines(limit);
    };
    return made;
  }();
  return settings;
}

std::optional<std::filesystem::path> TelemetrySettings::pendingCrashFile() const {
  if (dataFolder.empty()) return std::nullopt;
  std::error_code ignored;
  std::filesystem::create_directories(dataFolder, ignored);
  return dataFolder / "pending-crash.json";
}

QUrl TelemetrySettings::endpoint(const QString& path) const {
  QUrl url = baseUrl;
  QString base = url.path();
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  url.setPath(base + path);
  return url;
}

std::filesystem::path defaultDataFolder() {
  if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && *dataHome == '/') {
    return std::filesystem::path(dataHome) / "Zephro";
  }
  if (const char* home = std::getenv("HOME"); home && *home == '/') {
    return std::filesystem::path(home) / ".local/share/Zephro";
  }
  return {};
}

}  // namespace zephro::telemetry
