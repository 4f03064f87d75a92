// Feeds arbitrary bytes to the appcast parser. Besides not crashing, it must either refuse
// the feed with a placed message or give items that can be offered (each has a version,
// each enclosure a url), the same ones on a second parse, and a best item above the
// running version.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/update/Appcast.h"
#include "platform/update/VersionComparator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  try {
    const auto items = zephro::update::parseAppcast(xml);
    for (const auto& item : items) {
      if (item.versionString.empty() || item.displayVersionString.empty()) std::abort();
      if (item.enclosure && item.enclosure->url.empty()) std::abort();
    }
    if (zephro::update::parseAppcast(xml) != items) std::abort();
    if (const auto best = zephro::update::bestItem(items, "1.0")) {
      if (std::is_lteq(zephro::update::compareVersions(best->versionString, "1.0"))) std::abort();
    }
  } catch (const zephro::update::AppcastError& error) {
    if (std::string_view(error.what()).empty()) std::abort();
  }
  return 0;
}
