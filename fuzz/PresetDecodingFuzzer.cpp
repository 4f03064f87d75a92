// Anyone may edit the file: what is kept round-trips; a problem is reported iff something is lost.
#include <cstdlib>

#include "app/presets/PresetCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded = zephro::decodePresets(
      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
  if (std::size_t(decoded.presets.size()) > decoded.entryCount) std::abort();
  const bool unreadable = !decoded.isComplete() && decoded.entryCount == 0;
  if (decoded.isComplete() == (decoded.droppedCount() != 0 || unreadable)) std::abort();
  const auto again = zephro::decodePresets(zephro::encodePresets(decoded.presets));
  if (!again.isComplete() || again.presets != decoded.presets) std::abort();
  return 0;
}
