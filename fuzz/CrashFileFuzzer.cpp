// Whatever a pending crash file holds, reading it never crashes, and what parses is sent
// as JSON that parses again to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/services/telemetry/CrashReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto crash = zephro::telemetry::parsePendingCrash(bytes);
  if (!crash) return 0;
  const std::string sent = crash->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const auto again = zephro::telemetry::parsePendingCrash(sent);
  if (!again) std::abort();
  return 0;
}
