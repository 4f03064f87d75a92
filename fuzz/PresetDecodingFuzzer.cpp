// Stored preset data comes from a file the user (or anything else) can edit.
// Decoding must never crash, and whatever it keeps must be written back and read
// again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/presets/PresetCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const zephro::DecodedPresets decoded = zephro::decodePresets(bytes);

  if (std::size_t(decoded.presets.size()) > decoded.entryCount) std::abort();
  // A problem is reported exactly when an entry was dropped or nothing could be read.
  const bool dropped = decoded.droppedCount() != 0;
  const bool unreadable = !decoded.isComplete() && decoded.entryCount == 0;
  if (decoded.isComplete() == (dropped || unreadable)) std::abort();
  const zephro::DecodedPresets again =
      zephro::decodePresets(zephro::encodePresets(decoded.presets));
  if (!again.isComplete() || again.presets != decoded.presets) std::abort();
  return 0;
}
