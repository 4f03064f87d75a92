// A feed is refused with a message, or its offerable items (best above ours) reparse the same.
#include <compare>
#include <cstdlib>

#include "platform/update/Appcast.h"
#include "platform/update/VersionComparator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zephro::update;
  const std::string_view xml(reinterpret_cast<const char*>(data), size);
  try {
    const auto items = parseAppcast(xml);
    for (const auto& item : items) {
      if (item.versionString.empty() || item.displayVersionString.empty()) std::abort();
      if (item.enclosure && item.enclosure->url.empty()) std::abort();
    }
    if (parseAppcast(xml) != items) std::abort();
    const auto best = bestItem(items, "1.0");
    if (best && std::is_lteq(compareVersions(best->versionString, "1.0"))) std::abort();
  } catch (const AppcastError& error) {
    if (std::string_view(error.what()).empty()) std::abort();
  }
  return 0;
}
