#include "app/services/feedback/FeedbackText.h"

#include "app/services/telemetry/TelemetryReporter.h"

namespace zephro {

int FeedbackText::characterCount(const QString& text) const {
  return static_cast<int>(telemetry::characterCount(text));
}

QString FeedbackText::firstCharacters(const QString& text, int count) const {
  return telemetry::firstCharacters(text, count);
}

}  // namespace zephro
