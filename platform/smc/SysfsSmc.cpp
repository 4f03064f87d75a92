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

constexpr std::uint8_t kReadable = 0x80;
constexpr std::uint8_t kWritable = 0x40;
// applesmc refuses a speed of 0x4000 or more (applesmc_store_fan_speed); other drivers get
// at most what a 16-bit key holds.
constexpr double kMaxApplesmcRPM = 0x3FFF;
constexpr double kMaxWrittenRPM = 65535;

// The sensors the Apple device trees give macsmc-hwmon, by the label they give it
// (arch/arm64/boot/dts/apple/hwmon-common.dtsi, hwmon-laptop.dtsi, hwmon-mini.dtsi).
struct NamedSensor {
  std::string_view label;
  std::string_view key;
};
constexpr std::array<NamedSensor, 4> kNamedSensors{{{"NAND Flash Temperature", "TH0x"},
                                                    {"Battery Hotspot", "TB0T"},
                                                    {"Charge Regulator Temp", "TCHP"},
                                                    {"WiFi/BT Module Temp", "TW0P"}}};

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

// The SMC key a sensor's label stands for: the label itself where it is a key
// (applesmc_show_sensor_label prints the key), else the key the device trees give the name.
std::optional<std::string_view> sensorKey(std::string_view label) {
  if (label.size() == 4 && label[0] == 'T') return label;
  for (const auto& named : kNamedSensors) {
    if (named.label == label) return named.key;
  }
  return std::nullopt;
}

struct FanAttribute {
  std::string_view suffix;
  std::string_view attribute;
};
constexpr std::array<FanAttribute, 3> kFanReadings{{{"Ac", "input"}, {"Mn", "min"}, {"Mx", "max"}}};

std::string_view forceAttribute(SysfsForce force) {
  switch (force) {
    case SysfsForce::manualFlag:
      return "fanN_manual";
    case SysfsForce::pwmEnable:
      return "pwmN_enable";
    case SysfsForce::target:
      return "fanN_target";
    case SysfsForce::none:
      break;
  }
  return "nothing";
}

}  // namespace

SysfsSmc::SysfsSmc(SysfsDevice device) : device_(std::move(device)), directory_(device_.directory) {
  index();
}

// fanN_manual (applesmc_store_fan_manual) or pwmN_enable where the driver has one; else a
// writable fanN_target forces by itself (macsmc_hwmon_write_fan), and a read-only one
// (macsmc_hwmon_fan_is_visible without fan_control) leaves the fan to the firmware.
SysfsFan SysfsSmc::fanAt(std::size_t fan) const {
  SysfsFan found;
  for (const char* name : {"_output", "_target"}) {
    if (found.target.empty() && directory_.has(numbered("fan", fan, name))) {
      found.target = numbered("fan", fan, name);
    }
  }
  found.targetWritable = !found.target.empty() && directory_.isWritable(found.target);
  if (directory_.has(numbered("fan", fan, "_manual"))) {
    found.force = SysfsForce::manualFlag;
  } else if (directory_.has(numbered("pwm", fan, "_enable"))) {
    found.force = SysfsForce::pwmEnable;
  } else if (found.targetWritable && found.target.ends_with("_target")) {
    found.force = SysfsForce::target;
  }
  return found;
}

void SysfsSmc::index() {
  while (fans_.size() < kMaxFans && directory_.has(numbered("fan", fans_.size() + 1, "_input"))) {
    fans_.push_back(fanAt(fans_.size() + 1));
    if (fans_.back().force == SysfsForce::target) {
      forcedByTarget_ |= static_cast<std::uint16_t>(1U << (fans_.size() - 1));
    }
  }
  for (std::size_t sensor = 1;
       sensor <= kMaxSensors && directory_.has(numbered("temp", sensor, "_input")); ++sensor) {
    const auto label = directory_.read(numbered("temp", sensor, "_label"));
    if (label.error != 0) continue;
    if (const auto key = sensorKey(trimmed(label.text))) {
      sensors_.emplace(packFourCharCode(*key), sensor);
    }
  }
}

bool SysfsSmc::canForceFans() const {
  return !fans_.empty() && std::all_of(fans_.begin(), fans_.end(), [](const SysfsFan& fan) {
    return fan.force != SysfsForce::none && fan.targetWritable;
  });
}

std::string SysfsSmc::capabilities() const {
  if (fans_.empty()) return "no fans";
  std::string text = std::to_string(fans_.size()) + (fans_.size() == 1 ? " fan, " : " fans, ");
  if (!canForceFans()) return text + "read-only";
  return text + "forced through " + std::string(forceAttribute(fans_.front().force));
}

std::uint32_t SysfsSmc::speedType() const {
  return device_.driver == SysfsDriver::applesmc ? kTypeFpe2 : kTypeFlt;
}

std::uint32_t SysfsSmc::temperatureType() const {
  return device_.driver == SysfsDriver::applesmc ? kTypeSp78 : kTypeFlt;
}

KernReturn SysfsSmc::execute(const SMCParamBlock& input, SMCParamBlock& output) {
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
  // Writable even where no fan can be forced: clearing what is clear always succeeds.
  if (code == kKeyForceMask) return Key{Quantity::forceMask, {}, kTypeUi16, 2, true};
  if (name[0] == 'F') return fanKey(name);
  const auto sensor = sensors_.find(code);
  if (sensor == sensors_.end()) return std::nullopt;
  return Key{Quantity::temperature, numbered("temp", sensor->second, "_input"), temperatureType(),
             sizeOf(temperatureType()), false};
}

std::optional<SysfsSmc::Key> SysfsSmc::fanKey(const std::string& name) const {
  if (name[1] < '0' || name[1] > '9') return std::nullopt;
  const auto fan = static_cast<std::size_t>(name[1] - '0') + 1;
  if (fan > fans_.size()) return std::nullopt;
  const std::string_view suffix = std::string_view(name).substr(2);
  const auto& found = fans_[fan - 1];
  if (suffix == "Tg") {
    if (found.target.empty()) return std::nullopt;
    return Key{Quantity::speed, found.target, speedType(), sizeOf(speedType()),
               found.targetWritable};
  }
  for (const auto& reading : kFanReadings) {
    if (suffix != reading.suffix) continue;
    auto file = numbered("fan", fan, "_");
    file += reading.attribute;
    if (!directory_.has(file)) return std::nullopt;
    return Key{Quantity::speed, std::move(file), speedType(), sizeOf(speedType()), false};
  }
  return std::nullopt;
}

KernReturn SysfsSmc::read(const Key& key, std::span<std::uint8_t> bytes) const {
  switch (key.quantity) {
    case Quantity::fanCount:
      bytes[0] = static_cast<std::uint8_t>(fans_.size());
      return kIOReturnSuccess;
    case Quantity::forceMask: {
      std::uint16_t mask = 0;
      if (const auto status = readForceMask(mask); status != kIOReturnSuccess) return status;
      storeBigEndian16(mask, bytes);
      return kIOReturnSuccess;
    }
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

KernReturn SysfsSmc::write(const Key& key, std::span<const std::uint8_t> bytes) {
  if (key.quantity == Quantity::forceMask) return writeForceMask(loadBigEndian16(bytes));
  return writeSpeed(key, bytes);
}

// fanN_manual reads the force bit (applesmc_show_fan_manual), or on T2 kernels the fan's
// mode byte, whose low bit is the same flag; pwmN_enable reads 1 for manual control.
KernReturn SysfsSmc::readForceMask(std::uint16_t& mask) const {
  mask = 0;
  for (std::size_t fan = 1; fan <= fans_.size(); ++fan) {
    const auto bit = static_cast<std::uint16_t>(1U << (fan - 1));
    bool forced = false;
    switch (fans_[fan - 1].force) {
      case SysfsForce::manualFlag: {
        const auto manual = readNumber(numbered("fan", fan, "_manual"));
        if (manual.status != kIOReturnSuccess) return manual.status;
        forced = (manual.value & 1) != 0;
        break;
      }
      case SysfsForce::pwmEnable: {
        const auto enable = readNumber(numbered("pwm", fan, "_enable"));
        if (enable.status != kIOReturnSuccess) return enable.status;
        forced = enable.value == 1;
        break;
      }
      case SysfsForce::target:
        forced = (forcedByTarget_ & bit) != 0;
        break;
      case SysfsForce::none:
        break;
    }
    if (forced) mask |= bit;
  }
  return kIOReturnSuccess;
}

// Every fan is tried even after one fails, so that a release hands back all it can; the
// first failure is the answer.
KernReturn SysfsSmc::writeForceMask(std::uint16_t mask) {
  std::uint16_t current = 0;
  const bool known = readForceMask(current) == kIOReturnSuccess;
  KernReturn status = kIOReturnSuccess;
  for (std::size_t fan = 1; fan <= fans_.size(); ++fan) {
    const auto bit = static_cast<std::uint16_t>(1U << (fan - 1));
    const bool wanted = (mask & bit) != 0;
    if (known && ((current & bit) != 0) == wanted) continue;
    const auto result = setForced(fan, wanted);
    if (result != kIOReturnSuccess && status == kIOReturnSuccess) status = result;
  }
  return status;
}

KernReturn SysfsSmc::setForced(std::size_t fan, bool forced) {
  const auto bit = static_cast<std::uint16_t>(1U << (fan - 1));
  int error = 0;
  switch (fans_[fan - 1].force) {
    case SysfsForce::manualFlag:
      error = directory_.write(numbered("fan", fan, "_manual"), forced ? "1\n" : "0\n");
      break;
    case SysfsForce::pwmEnable:
      error = directory_.write(numbered("pwm", fan, "_enable"), forced ? "1\n" : "2\n");
      break;
    case SysfsForce::target:
      // The target's own write forces the fan; 0 hands it back.
      if (!forced) error = directory_.write(fans_[fan - 1].target, "0\n");
      if (error == 0) forcedByTarget_ = forced ? forcedByTarget_ | bit : forcedByTarget_ & ~bit;
      break;
    case SysfsForce::none:
      return forced ? kIOReturnNotPrivileged : kIOReturnSuccess;
  }
  return error == 0 ? kIOReturnSuccess : errnoStatus(error);
}

// Whole RPM, as the drivers take it (kstrtoul, or hwmon's kstrtol): applesmc drops the
// quarter-RPM bits of fpe2 itself.
KernReturn SysfsSmc::writeSpeed(const Key& key, std::span<const std::uint8_t> bytes) const {
  const double rpm = key.type == kTypeFlt ? decodeFlt(bytes) : decodeFpe2(bytes);
  if (std::isnan(rpm)) return kIOReturnBadArgument;
  const double limit = device_.driver == SysfsDriver::applesmc ? kMaxApplesmcRPM : kMaxWrittenRPM;
  const auto whole = static_cast<std::int64_t>(std::floor(std::clamp(rpm, 0.0, limit)));
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
