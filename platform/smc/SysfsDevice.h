#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace zephro::smc {

// The kernel drivers that reach an Apple SMC: applesmc on Intel Macs, macsmc-hwmon on
// Apple silicon.
enum class SysfsDriver { applesmc, macsmc };

// The name a driver's hwmon device reports in its "name" attribute.
[[nodiscard]] std::string_view hwmonNameOf(SysfsDriver driver);
// The driver's name as log lines give it.
[[nodiscard]] std::string_view driverNameOf(SysfsDriver driver);

inline constexpr const char* kSysfsRoot = "/sys";

// The folder that holds one driver's fan and temperature attributes.
struct SysfsDevice {
  SysfsDriver driver = SysfsDriver::applesmc;
  std::filesystem::path directory;

  friend bool operator==(const SysfsDevice&, const SysfsDevice&) = default;
};

// Looks for the driver's device under a sysfs root by what it holds, wherever the driver
// put it: applesmc's platform device first (its own folder, or a hwmon folder under it),
// else the first hwmon device whose name is the driver's (its own "name", or its parent
// device's when it has none, as with a T2 Mac's ACPI device APP0001:00). The attributes
// live in the hwmon folder or, with drivers that put them on the parent device as applesmc
// does, in the parent's; the links on the way are resolved here, once, at start-up.
[[nodiscard]] std::optional<SysfsDevice> findSysfsDevice(SysfsDriver driver,
                                                         const std::filesystem::path& sysfsRoot);

}  // namespace zephro::smc
