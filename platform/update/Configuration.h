#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bundle/InfoDictionary.h"

namespace zephro::update {

// What the updater is told by the application's information dictionary.
struct Configuration {
  // Checks below an hour are raised to it, so a slip in the dictionary cannot hammer the feed.
  static constexpr std::chrono::seconds kMinimumCheckInterval{3600};
  static constexpr std::chrono::seconds kDefaultCheckInterval{86400};

  std::string feedURL;                    // SUFeedURL
  std::vector<std::uint8_t> publicEDKey;  // SUPublicEDKey, decoded: 32 bytes of Ed25519 key
  // SUEnableAutomaticChecks; when the dictionary does not say, scheduled checks are
  // allowed and the user's answer to the permission question decides.
  bool automaticChecks = true;
  std::chrono::seconds checkInterval = kDefaultCheckInterval;  // SUScheduledCheckInterval
  std::string shortVersion;  // CFBundleShortVersionString, shown to people
  std::string version;       // CFBundleVersion, compared with the feed's sparkle:version

  // Reads the dictionary as it is. Values that are missing or unusable are left out and
  // reported by problem(), so the caller decides whether the updater can run.
  [[nodiscard]] static Configuration fromInfo(const bundle::InfoDictionary& info);

  // Why an updater cannot run with this configuration, e.g. "SUFeedURL is not set", or
  // nothing when it can: the first unusable value of the dictionary it was read from, else
  // a missing feed or a key that is not 32 bytes.
  [[nodiscard]] std::optional<std::string> problem() const;

  friend bool operator==(const Configuration&, const Configuration&) = default;

 private:
  std::optional<std::string> problem_;
};

}  // namespace zephro::update
