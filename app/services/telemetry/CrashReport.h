#pragma once

#include <QFuture>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/services/telemetry/TelemetrySettings.h"

namespace zephro::telemetry {

// A crash file larger than this is not ours and is left alone, unread.
inline constexpr std::uintmax_t kMaximumCrashFileSize = 4U << 20U;

// Writes the one pending crash, replacing an earlier one, atomically. Synchronous and
// silent: it runs while the process dies.
void recordCrash(const std::string& name, const std::string& reason,
                 const std::vector<std::string>& callStack,
                 const TelemetrySettings& settings = TelemetrySettings::shared());

// Makes an exception that no one catches the pending crash, then lets the process end as
// it would have. Builds the shared settings and context first, so the handler does little.
void installCrashHandler();

// The pending crash file's content as JSON, or nothing when it is not JSON.
[[nodiscard]] std::optional<nlohmann::json> parsePendingCrash(std::string_view bytes);

// Sends a pending crash file from a worker thread and removes it once the service took it;
// "Flushed pending crash report." or "Failed to flush crash report; will retry next
// launch." A missing, unreadable or unparsable file is left as it is, silently. Returns at
// once; only tests wait for the result.
QFuture<void> flushPendingCrash(const TelemetrySettings& settings = TelemetrySettings::shared());

}  // namespace zephro::telemetry
