#include "app/services/telemetry/TelemetryRecords.h"

#include <algorithm>
#include <chrono>

namespace zephro::telemetry {

std::string_view rawValue(FeedbackCategory category) {
  switch (category) {
    case FeedbackCategory::bug:
      return "bug";
    case FeedbackCategory::idea:
      return "idea";
    case FeedbackCategory::other:
      return "other";
  }
  return "other";
}

std::optional<FeedbackCategory> feedbackCategoryFromRaw(std::string_view raw) {
  const auto* found =
      std::find_if(allFeedbackCategories.begin(), allFeedbackCategories.end(),
                   [raw](FeedbackCategory category) { return rawValue(category) == raw; });
  if (found == allFeedbackCategories.end()) return std::nullopt;
  return *found;
}

nlohmann::ordered_json Crash::toJson() const {
  return {{"kind", "crash"},
          {"name", name},
          {"reason", reason},
          {"callStack", callStack},
          {"context", context.toJson()},
          {"ts", ts}};
}

nlohmann::ordered_json Payload::toJson() const {
  nlohmann::ordered_json json{
      {"kind", "feedback"}, {"category", rawValue(category)}, {"message", message}};
  if (contactEmail) json["contactEmail"] = *contactEmail;
  json["logs"] = logs;
  json["context"] = context.toJson();
  json["ts"] = ts;
  return json;
}

double secondsSinceEpoch() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

}  // namespace zephro::telemetry
