#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/smc/SMCParamBlock.h"
#include "platform/smc/SysfsDevice.h"
#include "platform/smc/SysfsDirectory.h"
#include "platform/smc/UserClient.h"

namespace zephro::smc {

// How a fan is taken from the firmware and handed back, by what its driver's folder offers.
enum class SysfsForce : std::uint8_t {
  none,        // nothing writable: the fan stays the firmware's
  manualFlag,  // fanN_manual, 1 forced and 0 the firmware's (applesmc, mainline and T2)
  pwmEnable,   // pwmN_enable, 1 manual and 2 automatic (hwmon's standard attribute)
  target,      // fanN_target: a speed in [min, max] forces the fan, 0 hands it back
               // (macsmc-hwmon with its fan_control parameter)
};

// What one fan's attributes allow, found from the files themselves.
struct SysfsFan {
  std::string target;  // fanN_output or fanN_target; empty when there is neither
  bool targetWritable = false;
  SysfsForce force = SysfsForce::none;
};

// The SMC keys the helper uses, answered from a kernel driver's attributes, so the helper
// drives a real Mac exactly as it drives the emulated one. Fans count from 1 in sysfs and
// from 0 in keys:
//   FNum           the number of fanN_input files (ui8)
//   FnAc FnMn FnMx fanN_input, fanN_min, fanN_max
//   FnTg           fanN_output or fanN_target, writable when the driver lets it be written
//   "FS! "         bit N-1 set while fan N is forced (see SysfsForce); a write changes only
//                  the fans whose bit changes, and setting the bit of a fan that cannot be
//                  forced answers kIOReturnNotPrivileged, so handing back always works
//   T...           tempN_input / 1000 of the sensor whose tempN_label is the key; where the
//                  driver labels sensors by name (macsmc-hwmon), the key the Apple device
//                  trees give that name
// Speeds and temperatures have the types the driver's own SMC keys have: fpe2 and sp78 on
// applesmc, flt on Apple silicon. Any other key is not found, and a failed attribute read
// or write answers errnoStatus(errno).
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
  [[nodiscard]] const std::vector<SysfsFan>& fans() const { return fans_; }
  // Whether every fan can be forced (false without fans).
  [[nodiscard]] bool canForceFans() const;
  // "2 fans, forced through fanN_manual", "1 fan, read-only", "no fans".
  [[nodiscard]] std::string capabilities() const;

  // The firmware's side of one struct-method call.
  [[nodiscard]] KernReturn execute(const SMCParamBlock& input, SMCParamBlock& output);

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
  [[nodiscard]] SysfsFan fanAt(std::size_t fan) const;
  [[nodiscard]] std::optional<Key> resolve(std::uint32_t code) const;
  [[nodiscard]] std::optional<Key> fanKey(const std::string& name) const;
  [[nodiscard]] KernReturn read(const Key& key, std::span<std::uint8_t> bytes) const;
  [[nodiscard]] KernReturn write(const Key& key, std::span<const std::uint8_t> bytes);
  [[nodiscard]] KernReturn readForceMask(std::uint16_t& mask) const;
  [[nodiscard]] KernReturn writeForceMask(std::uint16_t mask);
  [[nodiscard]] KernReturn setForced(std::size_t fan, bool forced);
  [[nodiscard]] KernReturn writeSpeed(const Key& key, std::span<const std::uint8_t> bytes) const;
  [[nodiscard]] Number readNumber(const std::string& attribute) const;
  [[nodiscard]] std::uint32_t speedType() const;
  [[nodiscard]] std::uint32_t temperatureType() const;

  SysfsDevice device_;
  SysfsDirectory directory_;
  std::vector<SysfsFan> fans_;
  // Fans forced through their target, which no attribute reports: until the helper hands
  // them back they count as forced, so that the first hand-back really hands them back.
  std::uint16_t forcedByTarget_ = 0;
  // Sensor key -> its sysfs number.
  std::map<std::uint32_t, std::size_t> sensors_;
};

}  // namespace zephro::smc
