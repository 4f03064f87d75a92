// What parses is sent as JSON that must parse again.
#include <cstdlib>

#include "app/services/telemetry/CrashReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto crash =
      zephro::telemetry::parsePendingCrash({reinterpret_cast<const char*>(data), size});
  if (crash && !zephro::telemetry::parsePendingCrash(
                   crash->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))) {
    std::abort();
  }
  return 0;
}
