#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "platform/smc/SMCParamBlock.h"
#include "platform/smc/SysfsDevice.h"
#include "platform/smc/SysfsDirectory.h"
#include "platform/smc/UserClient.h"

namespace zephro::smc {

// The SMC keys the helper uses, answered from a kernel driver's attributes, so the helper
// drives a real Mac exactly as it drives the emulated one. Fans count from 1 in sysfs and
// from 0 in keys:
//   FNum           the number of fanN_input files (ui8)
//   FnAc FnMn FnMx fanN_input, fanN_min, fanN_max
//   FnTg           fanN_output (applesmc, writable: whole RPM) or fanN_target (macsmc-hwmon)
//   "FS! "         applesmc only: bit N-1 is fanN_manual; a write sets each changed fanN_manual
//   T...           tempN_input / 1000 of the sensor whose tempN_label is the key
// Speeds and temperatures have the types the driver's own SMC keys have: fpe2 and sp78 on
// applesmc, flt on Apple silicon. macsmc-hwmon is only read: its documentation gives no way
// to hand a fan back to the firmware, so every write is refused and touches nothing. Any
// other key is not found, and a failed attribute read or write answers errnoStatus(errno).
//
// The fans and labelled sensors are indexed once, when the object is made. Not thread-safe:
// callers serialize their use of one object.
class SysfsSmc {
 public:
  // Fan keys have one digit, and applesmc never registers more fans either.
  static constexpr std::size_t kMaxFans = 10;
  static constexpr std::size_t kMaxSensors = 256;

  explicit SysfsSmc(SysfsDevice device);

  [[nodiscard]] const SysfsDevice& device() const { return device_; }
  [[nodiscard]] const SysfsDirectory& directory() const { return directory_; }
  [[nodiscard]] std::size_t fanCount() const { return fanCount_; }

  // The firmware's side of one struct-method call.
  [[nodiscard]] KernReturn execute(const SMCParamBlock& input, SMCParamBlock& output) const;

 private:
  enum class Quantity : std::uint8_t { fanCount, forceMask, speed, temperature };
  struct Key {
    Quantity quantity = Quantity::fanCount;
    std::string attribute;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    bool writable = false;
  };
  struct Number {
    KernReturn status = kIOReturnSuccess;
    std::int64_t value = 0;
  };

  void index();
  [[nodiscard]] std::optional<Key> resolve(std::uint32_t code) const;
  [[nodiscard]] std::optional<Key> fanKey(const std::string& name) const;
  [[nodiscard]] KernReturn read(const Key& key, std::span<std::uint8_t> bytes) const;
  [[nodiscard]] KernReturn write(const Key& key, std::span<const std::uint8_t> bytes) const;
  [[nodiscard]] KernReturn readForceMask(std::span<std::uint8_t> bytes) const;
  [[nodiscard]] KernReturn writeForceMask(std::uint16_t mask) const;
  [[nodiscard]] KernReturn writeSpeed(const Key& key, std::span<const std::uint8_t> bytes) const;
  [[nodiscard]] Number readNumber(const std::string& attribute) const;
  [[nodiscard]] std::uint32_t speedType() const;
  [[nodiscard]] std::uint32_t temperatureType() const;

  SysfsDevice device_;
  SysfsDirectory directory_;
  std::size_t fanCount_ = 0;
  // Sensor key -> its sysfs number.
  std::map<std::uint32_t, std::size_t> sensors_;
};

}  // namespace zephro::smc
