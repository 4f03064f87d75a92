#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/error/Error.h"
#include "protocol/FanInfoDTO.h"

// Keyed archives: how objects cross the socket. An archived object is a map whose
// "$class" entry names its class; the other entries are its keyed fields. Scalars
// (integers, doubles) travel as plain numbers and nil as null. A decoder states which
// classes it accepts at a position and refuses every other class, so a peer can
// never make the other side build an object it did not expect.
namespace zephro::archive {

using Object = nlohmann::json;

inline constexpr std::string_view kClassKey = "$class";
inline constexpr std::string_view kArrayClass = "NSArray";
inline constexpr std::string_view kNumberClass = "NSNumber";
inline constexpr std::string_view kStringClass = "NSString";
inline constexpr std::string_view kErrorClass = "NSError";
inline constexpr std::string_view kFanInfoClass = FanInfoDTO::kClassName;

using AllowedClasses = std::initializer_list<std::string_view>;

// A malformed archive or a class outside the allow-list of its position.
class DecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[nodiscard]] Object archiveNumber(std::int64_t value);
[[nodiscard]] Object archiveString(std::string_view text);
[[nodiscard]] Object archiveError(const Error& error);
[[nodiscard]] Object archiveOptionalError(const std::optional<Error>& error);  // nil → null
[[nodiscard]] Object archiveFanInfo(const FanInfoDTO& fan);
[[nodiscard]] Object archiveArray(std::vector<Object> elements);
[[nodiscard]] Object archiveFanInfoArray(const std::vector<FanInfoDTO>& fans);
[[nodiscard]] Object archiveNumberArray(const std::vector<std::int64_t>& numbers);

// The class an archived object names, after checking it against the allow-list.
[[nodiscard]] std::string classOf(const Object& object, AllowedClasses allowed);

// An array of FanInfoDTO; `allowed` must admit NSArray and FanInfoDTO.
[[nodiscard]] std::vector<FanInfoDTO> decodeFanInfoArray(const Object& object,
                                                         AllowedClasses allowed);
// An array of integral NSNumbers; `allowed` must admit NSArray and NSNumber.
[[nodiscard]] std::vector<std::int64_t> decodeNumberArray(const Object& object,
                                                          AllowedClasses allowed);
[[nodiscard]] std::string decodeString(const Object& object);
[[nodiscard]] Error decodeError(const Object& object);
[[nodiscard]] std::optional<Error> decodeOptionalError(const Object& object);  // null → nil
[[nodiscard]] std::int64_t decodeInteger(const Object& scalar);
[[nodiscard]] double decodeDouble(const Object& scalar);

}  // namespace zephro::archive
