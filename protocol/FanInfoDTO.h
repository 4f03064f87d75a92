#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "protocol/FanMode.h"

namespace zephro {

// One fan as the helper reports it. Immutable: the only constructor takes every field.
class FanInfoDTO {
 public:
  // The class name an archive records for this type, in both programs.
  static constexpr const char* kClassName = "FanInfoDTO";

  FanInfoDTO(std::int64_t index, double currentRPM, double minRPM, double maxRPM, FanMode mode)
      : index_(index), currentRPM_(currentRPM), minRPM_(minRPM), maxRPM_(maxRPM), mode_(mode) {}

  [[nodiscard]] std::int64_t index() const { return index_; }
  [[nodiscard]] double currentRPM() const { return currentRPM_; }
  [[nodiscard]] double minRPM() const { return minRPM_; }
  [[nodiscard]] double maxRPM() const { return maxRPM_; }
  [[nodiscard]] FanMode mode() const { return mode_; }

  // Secure coding: the five keyed fields ("index", "currentRPM", "minRPM", "maxRPM",
  // "mode" as its raw integer), without the class tag the archive adds around them.
  [[nodiscard]] nlohmann::json encodeWithCoder() const;
  // Never fails on content: a missing key reads as 0, mode 2 is max, 1 is manual and
  // anything else is system. A key holding something that is not a number is
  // malformed and throws archive::DecodingError, like any other broken archive.
  [[nodiscard]] static FanInfoDTO decodeWithCoder(const nlohmann::json& fields);

  friend bool operator==(const FanInfoDTO&, const FanInfoDTO&) = default;

 private:
  std::int64_t index_;
  double currentRPM_;
  double minRPM_;
  double maxRPM_;
  FanMode mode_;
};

}  // namespace zephro

// The general keyed-container coding: every key required, mode as its raw integer, and a
// mode outside 0 to 2 is an error (nlohmann::json::other_error). Works with both
// nlohmann::json and nlohmann::ordered_json; the latter keeps the field order.
namespace nlohmann {

template <>
struct adl_serializer<zephro::FanMode> {
  template <typename Json>
  static void to_json(Json& json, zephro::FanMode mode) {
    json = zephro::rawValue(mode);
  }
  template <typename Json>
  static zephro::FanMode from_json(const Json& json) {
    const auto mode = zephro::fanModeFromRaw(json.template get<std::int64_t>());
    if (!mode) {
      throw Json::other_error::create(501, "FanMode raw value " + json.dump() + " is not 0, 1 or 2",
                                      &json);
    }
    return *mode;
  }
};

template <>
struct adl_serializer<zephro::FanInfoDTO> {
  template <typename Json>
  static void to_json(Json& json, const zephro::FanInfoDTO& fan) {
    json = Json::object();
    json["index"] = fan.index();
    json["currentRPM"] = fan.currentRPM();
    json["minRPM"] = fan.minRPM();
    json["maxRPM"] = fan.maxRPM();
    json["mode"] = fan.mode();
  }
  template <typename Json>
  static zephro::FanInfoDTO from_json(const Json& json) {
    return zephro::FanInfoDTO(
        json.at("index").template get<std::int64_t>(), json.at("currentRPM").template get<double>(),
        json.at("minRPM").template get<double>(), json.at("maxRPM").template get<double>(),
        json.at("mode").template get<zephro::FanMode>());
  }
};

}  // namespace nlohmann
