// Keys and values are valid UTF-8 (nlohmann's strict dump checks) and reparse to the same table.
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/bundle/StringsTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto table = zephro::bundle::StringsTable::parse(bytes);
  try {
    for (const auto& [key, value] : table.entries()) (void)nlohmann::json({key, value}).dump();
  } catch (const nlohmann::json::type_error&) {
    std::abort();
  }
  const auto again = zephro::bundle::StringsTable::parse(bytes);
  if (again.entries() != table.entries() || again.error() != table.error()) std::abort();
  return 0;
}
