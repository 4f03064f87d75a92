#include "platform/update/Configuration.h"

#include <cmath>

#include "platform/update/Base64.h"

namespace zephro::update {

namespace {

constexpr std::size_t kEd25519PublicKeySize = 32;

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

Configuration Configuration::fromInfo(const bundle::InfoDictionary& info) {
  Configuration configuration;
  // The first problem found is the one reported: fixing it shows the next.
  const auto report = [&configuration](std::string problem) {
    if (!configuration.problem_) configuration.problem_ = std::move(problem);
  };

  configuration.version = info.string("CFBundleVersion").value_or("");
  configuration.shortVersion =
      info.string("CFBundleShortVersionString").value_or(configuration.version);

  configuration.feedURL = info.string("SUFeedURL").value_or("");
  if (configuration.feedURL.empty()) {
    report("SUFeedURL is not set");
  } else if (!startsWithIgnoringCase(configuration.feedURL, "https://") &&
             !startsWithIgnoringCase(configuration.feedURL, "http://")) {
    report("SUFeedURL is not an http or https address: " + configuration.feedURL);
  }

  const std::string key = info.string("SUPublicEDKey").value_or("");
  const auto decoded = decodeBase64(key);
  if (key.empty()) {
    report("SUPublicEDKey is not set");
  } else if (!decoded || decoded->size() != kEd25519PublicKeySize) {
    report("SUPublicEDKey is not a base64 Ed25519 public key (32 bytes)");
  } else {
    configuration.publicEDKey = *decoded;
  }

  if (info.contains("SUEnableAutomaticChecks")) {
    if (const auto enabled = info.boolean("SUEnableAutomaticChecks")) {
      configuration.automaticChecks = *enabled;
    } else {
      report("SUEnableAutomaticChecks is not true or false");
    }
  }

  if (info.contains("SUScheduledCheckInterval")) {
    const auto seconds = info.number("SUScheduledCheckInterval");
    if (!seconds || !std::isfinite(*seconds) || *seconds <= 0) {
      report("SUScheduledCheckInterval is not a positive number of seconds");
    } else {
      // Capped at a year, far below what chrono's milliseconds hold.
      const auto whole =
          std::chrono::seconds(static_cast<std::int64_t>(std::min(*seconds, 365.0 * 86400.0)));
      configuration.checkInterval = std::max(whole, kMinimumCheckInterval);
    }
  }

  if (configuration.version.empty()) report("CFBundleVersion is not set");
  return configuration;
}

std::optional<std::string> Configuration::problem() const {
  if (problem_) return problem_;
  if (feedURL.empty()) return "SUFeedURL is not set";
  if (publicEDKey.empty()) return "SUPublicEDKey is not set";
  if (publicEDKey.size() != kEd25519PublicKeySize) {
    return "SUPublicEDKey is not a base64 Ed25519 public key (32 bytes)";
  }
  return std::nullopt;
}

}  // namespace zephro::update
