#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/update/AppcastError.h"
#include "platform/update/AppcastItem.h"

namespace zephro::update {

// The XML namespace of the update framework's elements and attributes. Matched by this
// address, never by the prefix a feed happens to bind it to.
inline constexpr std::string_view kAppcastNamespace =
    "http://www.andymatuschak.org/xml-namespaces/sparkle";

// Feeds list releases, not payloads; anything larger is refused unread.
inline constexpr std::size_t kMaxAppcastSize = std::size_t{4} * 1024 * 1024;

// The items of an RSS 2.0 feed (rss/channel/item), in feed order. Per item: <title>,
// <link>, the framework's <version>, <shortVersionString> and <minimumSystemVersion>
// elements, <informationalUpdate> (present = informational), and <enclosure> with url,
// length, type and the framework's edSignature, version and shortVersionString
// attributes; a version element wins over the enclosure's attribute. An item without a
// version, or whose enclosure has no url, cannot be offered and is left out.
// Throws AppcastError for a feed that is not well-formed XML, is not RSS, is larger than
// kMaxAppcastSize or has a document type declaration (no entity can expand).
[[nodiscard]] std::vector<AppcastItem> parseAppcast(std::string_view xml);

// The item to offer to an application running `runningVersion`: the newest whose version
// compares above it (the first of equals, in feed order). Information-only items count,
// since the user driver reports them too. Nothing when every item is at or below it.
[[nodiscard]] std::optional<AppcastItem> bestItem(const std::vector<AppcastItem>& items,
                                                  std::string_view runningVersion);

}  // namespace zephro::update
