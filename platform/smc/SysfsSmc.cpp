#include "platform/smc/SysfsSmc.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

#include "platform/smc/FourCharCode.h"
#include "platform/smc/ValueCodec.h"

namespace zephro::smc {
namespace {

constexpr std::uint32_t kKeyFNum = packFourCharCode("FNum");
constexpr std::uint32_t kKeyForceMask = packFourCharCode("FS! ");
constexpr std::uint8_t kReadable = 0x80;
constexpr std::uint8_t kWritable = 0x40;
// Above any fan's speed; keeps a garbled target from becoming a huge number in the file.
constexpr double kMaxWrittenRPM = 65535;

std::string numbered(std::string_view prefix, std::size_t number, std::string_view suffix) {
  std::string name(prefix);
  name += std::to_string(number);
  name += suffix;
  return name;
}

std::uint32_t sizeOf(std::uint32_t type) {
  return type == kTypeFlt ? 4 : 2;
}

void encode(std::uint32_t type, double value, std::span<std::uint8_t> bytes) {
  if (type == kTypeFlt) {
    storeFlt(value, bytes);
  } else if (type == kTypeSp78) {
    storeBigEndian16(encodeSp78(value), bytes);
  } else {
    storeBigEndian16(encodeFpe2(value), bytes);
  }
}

struct FanAttribute {
  std::string_view suffix;
  std::string_view attribute;
};

// The target is applesmc's fanN_output and macsmc-hwmon's fanN_target.
constexpr std::array<FanAttribute, 3> kFanReadings{{{"Ac", "input"}, {"Mn", "min"}, {"Mx", "max"}}};

}  // namespace

SysfsSmc::SysfsSmc(SysfsDevice device) : device_(std::move(device)), directory_(device_.directory) {
  index();
}

void SysfsSmc::index() {
  while (fanCount_ < kMaxFans && directory_.has(numbered("fan", fanCount_ + 1, "_input"))) {
    ++fanCount_;
  }
  for (std::size_t sensor = 1;
       sensor <= kMaxSensors && directory_.has(numbered("temp", sensor, "_input")); ++sensor) {
    const auto label = directory_.read(numbered("temp", sensor, "_label"));
    const auto key = trimmed(label.text);
    if (label.error == 0 && key.size() == 4 && key[0] == 'T') {
      sensors_.emplace(packFourCharCode(key), sensor);
    }
  }
}

std::uint32_t SysfsSmc::speedType() const {
  return device_.driver == SysfsDriver::applesmc ? kTypeFpe2 : kTypeFlt;
}

std::uint32_t SysfsSmc::temperatureType() const {
  return device_.driver == SysfsDriver::applesmc ? kTypeSp78 : kTypeFlt;
}

KernReturn SysfsSmc::execute(const SMCParamBlock& input, SMCParamBlock& output) const {
  output = input;
  output.result = 0;
  const auto command = input.data8;
  if (command != kCommandReadKeyInfo && command != kCommandReadValue &&
      command != kCommandWriteValue) {
    return kIOReturnBadArgument;
  }
  const auto key = resolve(input.key);
  if (!key) return kIOReturnNotFound;
  if (command == kCommandReadKeyInfo) {
    const std::uint8_t attributes = kReadable | (key->writable ? kWritable : 0);
    output.keyInfo = SMCKeyInfoData{key->size, key->type, attributes, {0, 0, 0}};
    return kIOReturnSuccess;
  }
  if (command == kCommandWriteValue && !key->writable) return kIOReturnNotPrivileged;
  if (input.keyInfo.dataSize != key->size) return kIOReturnBadArgument;
  if (command == kCommandWriteValue) return write(*key, input.bytes);
  output.bytes.fill(0);
  return read(*key, output.bytes);
}

std::optional<SysfsSmc::Key> SysfsSmc::resolve(std::uint32_t code) const {
  const auto name = unpackFourCharCode(code);
  if (code == kKeyFNum) return Key{Quantity::fanCount, {}, kTypeUi8, 1, false};
  if (code == kKeyForceMask) {
    if (device_.driver != SysfsDriver::applesmc || !directory_.has("fan1_manual")) {
      return std::nullopt;
    }
    return Key{Quantity::forceMask, {}, kTypeUi16, 2, true};
  }
  if (name[0] == 'F') return fanKey(name);
  const auto sensor = sensors_.find(code);
  if (sensor == sensors_.end()) return std::nullopt;
  return Key{Quantity::temperature, numbered("temp", sensor->second, "_input"), temperatureType(),
             sizeOf(temperatureType()), false};
}

std::optional<SysfsSmc::Key> SysfsSmc::fanKey(const std::string& name) const {
  if (name[1] < '0' || name[1] > '9') return std::nullopt;
  const auto fan = static_cast<std::size_t>(name[1] - '0') + 1;
  if (fan > fanCount_) return std::nullopt;
  const std::string_view suffix = std::string_view(name).substr(2);
  const bool applesmc = device_.driver == SysfsDriver::applesmc;
  std::optional<std::string_view> attribute;
  if (suffix == "Tg") attribute = applesmc ? "output" : "target";
  for (const auto& reading : kFanReadings) {
    if (suffix == reading.suffix) attribute = reading.attribute;
  }
  if (!attribute) return std::nullopt;
  auto file = numbered("fan", fan, "_");
  file += *attribute;
  if (!directory_.has(file)) return std::nullopt;
  return Key{Quantity::speed, std::move(file), speedType(), sizeOf(speedType()),
             applesmc && suffix == "Tg"};
}

KernReturn SysfsSmc::read(const Key& key, std::span<std::uint8_t> bytes) const {
  switch (key.quantity) {
    case Quantity::fanCount:
      bytes[0] = static_cast<std::uint8_t>(fanCount_);
      return kIOReturnSuccess;
    case Quantity::forceMask:
      return readForceMask(bytes);
    case Quantity::speed:
    case Quantity::temperature: {
      const auto number = readNumber(key.attribute);
      if (number.status != kIOReturnSuccess) return number.status;
      const auto value = static_cast<double>(number.value);
      encode(key.type, key.quantity == Quantity::temperature ? value / 1000.0 : value, bytes);
      return kIOReturnSuccess;
    }
  }
  return kIOReturnError;
}

KernReturn SysfsSmc::write(const Key& key, std::span<const std::uint8_t> bytes) const {
  if (key.quantity == Quantity::forceMask) return writeForceMask(loadBigEndian16(bytes));
  return writeSpeed(key, bytes);
}

KernReturn SysfsSmc::readForceMask(std::span<std::uint8_t> bytes) const {
  std::uint16_t mask = 0;
  for (std::size_t fan = 1; fan <= fanCount_; ++fan) {
    const auto manual = readNumber(numbered("fan", fan, "_manual"));
    if (manual.status != kIOReturnSuccess) return manual.status;
    if (manual.value != 0) mask |= static_cast<std::uint16_t>(1U << (fan - 1));
  }
  storeBigEndian16(mask, bytes);
  return kIOReturnSuccess;
}

// Every fan is tried even after one fails, so that a release hands back all it can; the
// first failure is the answer.
KernReturn SysfsSmc::writeForceMask(std::uint16_t mask) const {
  KernReturn status = kIOReturnSuccess;
  for (std::size_t fan = 1; fan <= fanCount_; ++fan) {
    const auto attribute = numbered("fan", fan, "_manual");
    const bool wanted = (mask & (1U << (fan - 1))) != 0;
    const auto current = readNumber(attribute);
    if (current.status == kIOReturnSuccess && (current.value != 0) == wanted) continue;
    const int error = directory_.write(attribute, wanted ? "1\n" : "0\n");
    if (error != 0 && status == kIOReturnSuccess) status = errnoStatus(error);
  }
  return status;
}

// Whole RPM, as the driver takes it: it drops the quarter-RPM bits of fpe2 itself.
KernReturn SysfsSmc::writeSpeed(const Key& key, std::span<const std::uint8_t> bytes) const {
  const double rpm = key.type == kTypeFlt ? decodeFlt(bytes) : decodeFpe2(bytes);
  if (std::isnan(rpm)) return kIOReturnBadArgument;
  const auto whole = static_cast<std::int64_t>(std::floor(std::clamp(rpm, 0.0, kMaxWrittenRPM)));
  const int error = directory_.write(key.attribute, std::to_string(whole) + "\n");
  return error == 0 ? kIOReturnSuccess : errnoStatus(error);
}

SysfsSmc::Number SysfsSmc::readNumber(const std::string& attribute) const {
  const auto read = directory_.read(attribute);
  if (read.error != 0) return {errnoStatus(read.error), 0};
  const auto text = trimmed(read.text);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return {kIOReturnError, 0};
  }
  return {kIOReturnSuccess, value};
}

}  // namespace zephro::smc
