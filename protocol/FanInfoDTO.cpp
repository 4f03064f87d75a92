#include "protocol/FanInfoDTO.h"

#include "protocol/KeyedArchive.h"

namespace zephro {
namespace {

// decodeIntegerForKey: / decodeDoubleForKey: — absent means 0.
std::int64_t integerForKey(const nlohmann::json& fields, const char* key) {
  const auto it = fields.find(key);
  return it == fields.end() ? 0 : archive::decodeInteger(*it);
}

double doubleForKey(const nlohmann::json& fields, const char* key) {
  const auto it = fields.find(key);
  return it == fields.end() ? 0.0 : archive::decodeDouble(*it);
}

FanMode modeFromSecureRaw(std::int64_t raw) {
  if (raw == rawValue(FanMode::max)) return FanMode::max;
  if (raw == rawValue(FanMode::manual)) return FanMode::manual;
  return FanMode::system;
}

}  // namespace

nlohmann::json FanInfoDTO::encodeWithCoder() const {
  return {{"index", index_},
          {"currentRPM", currentRPM_},
          {"minRPM", minRPM_},
          {"maxRPM", maxRPM_},
          {"mode", rawValue(mode_)}};
}

FanInfoDTO FanInfoDTO::decodeWithCoder(const nlohmann::json& fields) {
  if (!fields.is_object()) throw archive::DecodingError("FanInfoDTO fields are not a keyed map");
  return {integerForKey(fields, "index"), doubleForKey(fields, "currentRPM"),
          doubleForKey(fields, "minRPM"), doubleForKey(fields, "maxRPM"),
          modeFromSecureRaw(integerForKey(fields, "mode"))};
}

}  // namespace zephro
