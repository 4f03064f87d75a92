#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/services/telemetry/TelemetryContext.h"

namespace zephro::telemetry {

// What a piece of feedback is about. The raw values are what is sent.
enum class FeedbackCategory { bug, idea, other };

inline constexpr std::array allFeedbackCategories{FeedbackCategory::bug, FeedbackCategory::idea,
                                                  FeedbackCategory::other};

[[nodiscard]] std::string_view rawValue(FeedbackCategory category);
// No value for any text other than "bug", "idea" and "other".
[[nodiscard]] std::optional<FeedbackCategory> feedbackCategoryFromRaw(std::string_view raw);

// An uncaught exception, kept as the one pending crash until the next launch sends it.
struct Crash {
  std::string name;
  std::string reason;
  std::vector<std::string> callStack;
  TelemetryContext context;
  double ts = 0;  // seconds since 1970, with fraction

  [[nodiscard]] nlohmann::ordered_json toJson() const;
};

// A piece of the user's feedback with the application's recent log lines.
struct Payload {
  FeedbackCategory category = FeedbackCategory::bug;
  std::string message;
  std::optional<std::string> contactEmail;  // left out of the record when absent
  std::vector<std::string> logs;
  TelemetryContext context;
  double ts = 0;

  [[nodiscard]] nlohmann::ordered_json toJson() const;
};

// Now, as seconds since 1970 with fraction.
[[nodiscard]] double secondsSinceEpoch();

}  // namespace zephro::telemetry
