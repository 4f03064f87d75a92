#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "app/services/telemetry/TelemetryRecords.h"
#include "app/services/telemetry/TelemetrySettings.h"
#include "platform/log/Log.h"

namespace zephro::telemetry {

inline constexpr qsizetype kMessageLimit = 2000;
inline constexpr qsizetype kContactLimit = 256;
inline constexpr std::size_t kLogLineCount = 200;
inline constexpr qsizetype kLogLineLimit = 500;

// Where telemetry's own lines go: the application's subsystem, category "telemetry".
[[nodiscard]] const log::Channel& telemetryChannel();

// Posts body as JSON to the endpoint: true for an HTTP answer of 200 to 299. A transport
// error logs "Telemetry POST <path> failed: <description>". Blocks; call it off the main
// thread (post() does).
[[nodiscard]] bool postBlocking(const QString& path, const QByteArray& body,
                                const TelemetrySettings& settings);
// The same on a worker thread, awaited.
// (No default arguments on these coroutines: GCC 12 destroys a coroutine's defaulted
// by-value argument twice. The overloads without settings use the shared ones.)
[[nodiscard]] QCoro::Task<bool> post(QString path, QByteArray body, TelemetrySettings settings);
[[nodiscard]] QCoro::Task<bool> post(QString path, QByteArray body);

// The feedback record of Payload, with the message cut to 2000 characters, the address to
// 256 (left out when absent or empty) and the last 200 log lines cut to 500 characters.
[[nodiscard]] Payload makeFeedback(FeedbackCategory category, const QString& message,
                                   const std::optional<QString>& contactEmail,
                                   const TelemetrySettings& settings);
// Sends the feedback from a worker thread; true when the service took it.
[[nodiscard]] QCoro::Task<bool> sendFeedback(FeedbackCategory category, QString message,
                                             std::optional<QString> contactEmail,
                                             TelemetrySettings settings);
[[nodiscard]] QCoro::Task<bool> sendFeedback(FeedbackCategory category, QString message,
                                             std::optional<QString> contactEmail);

// Compact JSON; text that is not UTF-8 is replaced rather than losing the whole record.
[[nodiscard]] std::string encode(const nlohmann::ordered_json& json);

}  // namespace zephro::telemetry
