#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zephro::update {

// One <item> of an appcast feed.
struct AppcastItem {
  struct Enclosure {
    std::string url;
    std::uint64_t length = 0;  // bytes; 0 when the feed does not say
    std::string type;
    std::string edSignature;  // sparkle:edSignature, base64 of a detached Ed25519 signature

    friend bool operator==(const Enclosure&, const Enclosure&) = default;
  };

  std::string title;
  std::string versionString;         // sparkle:version, compared to CFBundleVersion
  std::string displayVersionString;  // sparkle:shortVersionString, else versionString
  std::optional<std::string> infoURL;  // <link>
  std::optional<Enclosure> enclosure;
  bool informationalUpdate = false;  // sparkle:informationalUpdate
  std::optional<std::string> minimumSystemVersion;

  // An item without an archive, or marked informational, is only news: there is
  // nothing to download.
  [[nodiscard]] bool isInformationOnlyUpdate() const { return informationalUpdate || !enclosure; }

  friend bool operator==(const AppcastItem&, const AppcastItem&) = default;
};

}  // namespace zephro::update
