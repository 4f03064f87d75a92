#include "platform/smc/SysfsDevice.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "platform/smc/SysfsDirectory.h"

namespace zephro::smc {
namespace {

// Far more than any machine registers; a bound on what a start-up search reads.
constexpr std::size_t kMaxHwmonDevices = 256;

std::optional<std::string> nameOf(const SysfsDirectory& directory) {
  const auto name = directory.read("name");
  if (name.error != 0) return std::nullopt;
  return std::string(trimmed(name.text));
}

bool hasReadings(const SysfsDirectory& directory) {
  return directory.has("fan1_input") || directory.has("temp1_input");
}

std::filesystem::path resolved(const std::filesystem::path& path) {
  std::error_code error;
  auto canonical = std::filesystem::canonical(path, error);
  return error ? path : canonical;
}

// hwmon2 before hwmon10.
std::vector<std::filesystem::path> hwmonDevices(const std::filesystem::path& sysfsRoot) {
  std::vector<std::filesystem::path> devices;
  std::error_code error;
  for (std::filesystem::directory_iterator it(sysfsRoot / "class" / "hwmon", error), end;
       !error && it != end && devices.size() < kMaxHwmonDevices; it.increment(error)) {
    devices.push_back(it->path());
  }
  std::sort(devices.begin(), devices.end(), [](const auto& left, const auto& right) {
    const auto& a = left.native();
    const auto& b = right.native();
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return devices;
}

std::optional<SysfsDevice> findHwmonDevice(SysfsDriver driver,
                                           const std::filesystem::path& sysfsRoot) {
  for (const auto& path : hwmonDevices(sysfsRoot)) {
    const SysfsDirectory own(path);
    const SysfsDirectory parent(path / "device");
    const auto name = own.has("name") ? nameOf(own) : nameOf(parent);
    if (name != hwmonNameOf(driver)) continue;
    const auto& folder = hasReadings(own) || !hasReadings(parent) ? own : parent;
    return SysfsDevice{driver, resolved(folder.path())};
  }
  return std::nullopt;
}

}  // namespace

std::string_view hwmonNameOf(SysfsDriver driver) {
  return driver == SysfsDriver::applesmc ? "applesmc" : "macsmc_hwmon";
}

std::string_view driverNameOf(SysfsDriver driver) {
  return driver == SysfsDriver::applesmc ? "applesmc" : "macsmc-hwmon";
}

// The platform device's own folder (applesmc as it is), or the hwmon device under it (an
// applesmc registered with hwmon_device_register_with_info keeps "name" on the platform
// device and moves the fans into hwmon/hwmonN).
std::optional<std::filesystem::path> platformReadings(const std::filesystem::path& platform) {
  if (hasReadings(SysfsDirectory(platform))) return platform;
  std::error_code error;
  for (std::filesystem::directory_iterator it(platform / "hwmon", error), end; !error && it != end;
       it.increment(error)) {
    if (hasReadings(SysfsDirectory(it->path()))) return it->path();
  }
  return std::nullopt;
}

std::optional<SysfsDevice> findSysfsDevice(SysfsDriver driver,
                                           const std::filesystem::path& sysfsRoot) {
  if (driver == SysfsDriver::applesmc) {
    const SysfsDirectory platform(sysfsRoot / "devices" / "platform" / "applesmc.768");
    if (nameOf(platform) == hwmonNameOf(driver)) {
      if (const auto folder = platformReadings(platform.path())) {
        return SysfsDevice{driver, resolved(*folder)};
      }
    }
  }
  return findHwmonDevice(driver, sysfsRoot);
}

}  // namespace zephro::smc
