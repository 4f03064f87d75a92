#include "protocol/KeyedArchive.h"

#include <algorithm>
#include <limits>

namespace zephro::archive {
namespace {

Object tagged(std::string_view className) {
  Object object = Object::object();
  object[std::string(kClassKey)] = className;
  return object;
}

void require(const Object& object, std::string_view expectedClass, AllowedClasses allowed) {
  const auto name = classOf(object, allowed);
  if (name != expectedClass) {
    throw DecodingError("expected " + std::string(expectedClass) + ", found " + name);
  }
}

const Object& field(const Object& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) throw DecodingError(std::string("missing key \"") + key + "\"");
  return *it;
}

std::int64_t integerFromNumberObject(const Object& number) {
  const auto& value = field(number, "value");
  if (!value.is_number_integer()) throw DecodingError("NSNumber value is not an integer");
  if (value.is_number_unsigned() &&
      value.get<std::uint64_t>() >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    throw DecodingError("NSNumber value out of range");
  }
  return value.get<std::int64_t>();
}

}  // namespace

Object archiveNumber(std::int64_t value) {
  auto object = tagged(kNumberClass);
  object["value"] = value;
  return object;
}

Object archiveString(std::string_view text) {
  auto object = tagged(kStringClass);
  object["value"] = text;
  return object;
}

Object archiveError(const Error& error) {
  auto object = tagged(kErrorClass);
  object["domain"] = error.domain;
  object["code"] = error.code;
  object["userInfo"] = error.userInfo;
  return object;
}

Object archiveOptionalError(const std::optional<Error>& error) {
  return error ? archiveError(*error) : Object(nullptr);
}

Object archiveFanInfo(const FanInfoDTO& fan) {
  auto object = fan.encodeWithCoder();
  object[std::string(kClassKey)] = kFanInfoClass;
  return object;
}

Object archiveArray(std::vector<Object> elements) {
  auto object = tagged(kArrayClass);
  object["NS.objects"] = Object(std::move(elements));
  return object;
}

Object archiveFanInfoArray(const std::vector<FanInfoDTO>& fans) {
  std::vector<Object> elements;
  elements.reserve(fans.size());
  for (const auto& fan : fans) elements.push_back(archiveFanInfo(fan));
  return archiveArray(std::move(elements));
}

Object archiveNumberArray(const std::vector<std::int64_t>& numbers) {
  std::vector<Object> elements;
  elements.reserve(numbers.size());
  for (const auto number : numbers) elements.push_back(archiveNumber(number));
  return archiveArray(std::move(elements));
}

std::string classOf(const Object& object, AllowedClasses allowed) {
  if (!object.is_object()) throw DecodingError("archived object is not a keyed map");
  const auto it = object.find(kClassKey);
  if (it == object.end() || !it->is_string()) {
    throw DecodingError("archived object names no class");
  }
  auto name = it->get<std::string>();
  if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
    throw DecodingError("class " + name + " is not allowed here");
  }
  return name;
}

std::vector<FanInfoDTO> decodeFanInfoArray(const Object& object, AllowedClasses allowed) {
  require(object, kArrayClass, allowed);
  const auto& elements = field(object, "NS.objects");
  if (!elements.is_array()) throw DecodingError("NS.objects is not an array");
  std::vector<FanInfoDTO> fans;
  fans.reserve(elements.size());
  for (const auto& element : elements) {
    require(element, kFanInfoClass, allowed);
    fans.push_back(FanInfoDTO::decodeWithCoder(element));
  }
  return fans;
}

std::vector<std::int64_t> decodeNumberArray(const Object& object, AllowedClasses allowed) {
  require(object, kArrayClass, allowed);
  const auto& elements = field(object, "NS.objects");
  if (!elements.is_array()) throw DecodingError("NS.objects is not an array");
  std::vector<std::int64_t> numbers;
  numbers.reserve(elements.size());
  for (const auto& element : elements) {
    require(element, kNumberClass, allowed);
    numbers.push_back(integerFromNumberObject(element));
  }
  return numbers;
}

std::string decodeString(const Object& object) {
  require(object, kStringClass, {kStringClass});
  const auto& value = field(object, "value");
  if (!value.is_string()) throw DecodingError("NSString value is not text");
  return value.get<std::string>();
}

Error decodeError(const Object& object) {
  require(object, kErrorClass, {kErrorClass});
  const auto& domain = field(object, "domain");
  const auto& code = field(object, "code");
  const auto& userInfo = field(object, "userInfo");
  if (!domain.is_string()) throw DecodingError("NSError domain is not text");
  Error error{domain.get<std::string>(), decodeInteger(code), {}};
  if (!userInfo.is_object()) throw DecodingError("NSError userInfo is not a map");
  for (const auto& [key, value] : userInfo.items()) {
    if (!value.is_string()) throw DecodingError("NSError userInfo value is not text");
    error.userInfo.emplace(key, value.get<std::string>());
  }
  return error;
}

std::optional<Error> decodeOptionalError(const Object& object) {
  if (object.is_null()) return std::nullopt;
  return decodeError(object);
}

std::int64_t decodeInteger(const Object& scalar) {
  if (!scalar.is_number_integer()) throw DecodingError("expected an integer");
  if (scalar.is_number_unsigned() &&
      scalar.get<std::uint64_t>() >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    throw DecodingError("integer out of range");
  }
  return scalar.get<std::int64_t>();
}

double decodeDouble(const Object& scalar) {
  if (!scalar.is_number()) throw DecodingError("expected a number");
  return scalar.get<double>();
}

}  // namespace zephro::archive
