#include "tests/platform/smc/FakeSysfs.h"

#include <unistd.h>

#include <charconv>
#include <fstream>

namespace zephro::testing {
namespace {

using std::filesystem::perms;

constexpr perms kReadOnly = perms::owner_read | perms::group_read | perms::others_read;
constexpr perms kWritable = kReadOnly | perms::owner_write;

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// What the drivers parse with kstrtoul/kstrtol: decimal digits, one trailing newline.
bool decimal(const std::string& text, long& value) {
  const auto number = trimmed(text);
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  return !number.empty() && error == std::errc{} && end == number.data() + number.size();
}

std::string numbered(const std::string& prefix, int number, const std::string& suffix) {
  return prefix + std::to_string(number) + suffix;
}

}  // namespace

void putFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

FakeSysfs::FakeSysfs(SysfsLayout layout, std::filesystem::path root, std::vector<FakeFan> fans,
                     std::vector<FakeSensor> sensors)
    : layout_(layout), root_(std::move(root)) {
  make(fans, sensors);
}

bool FakeSysfs::applesmc() const {
  return layout_ == SysfsLayout::mainlineApplesmc || layout_ == SysfsLayout::t2Applesmc ||
         layout_ == SysfsLayout::convertedApplesmc;
}

std::string FakeSysfs::driver() const {
  return applesmc() ? "applesmc" : "macsmc-hwmon";
}

std::string FakeSysfs::forceAttribute(int fan) const {
  if (layout_ == SysfsLayout::convertedApplesmc) return numbered("pwm", fan, "_enable");
  if (applesmc()) return numbered("fan", fan, "_manual");
  return targetAttribute(fan);
}

std::string FakeSysfs::targetAttribute(int fan) const {
  const bool output =
      layout_ == SysfsLayout::mainlineApplesmc || layout_ == SysfsLayout::t2Applesmc;
  return numbered("fan", fan, output ? "_output" : "_target");
}

// applesmc gives each attribute 0444, and 0200 more when it has a store function
// (fanN_min, fanN_output, fanN_manual), on applesmc.768 on Intel Macs and APP0001:00 on T2
// Macs; converted to hwmon_device_register_with_info, it puts fanN_target and pwmN_enable
// (1 manual, 2 auto) in hwmonN. macsmc-hwmon's are all 0444 in hwmonN but fanN_target,
// 0644 with its fan_control parameter.
void FakeSysfs::make(const std::vector<FakeFan>& fans, const std::vector<FakeSensor>& sensors) {
  const auto device =
      root_ / (layout_ == SysfsLayout::t2Applesmc ? "devices/LNXSYSTM:00/LNXSYBUS:00/APP0001:00"
               : applesmc()                       ? "devices/platform/applesmc.768"
                            : "devices/platform/soc/23e400000.smc/macsmc-hwmon");
  const auto hwmon = device / "hwmon/hwmon3";
  std::filesystem::create_directories(hwmon);
  link(hwmon);
  const bool onDevice =
      layout_ == SysfsLayout::mainlineApplesmc || layout_ == SysfsLayout::t2Applesmc;
  folder_ = onDevice ? device : hwmon;
  // A converted applesmc keeps info_group's "name" on the platform device too.
  if (applesmc() && folder_ != device) putFile(device / "name", "applesmc\n");
  attribute("name", applesmc() ? "applesmc" : "macsmc_hwmon", false);

  const bool fanControl = layout_ != SysfsLayout::macsmcReadOnly;
  for (int fan = 1; fan <= static_cast<int>(fans.size()); ++fan) {
    const auto& values = fans[fan - 1];
    attribute(numbered("fan", fan, "_label"), applesmc() ? "Exhaust" : "Fan " + std::to_string(fan),
              false);
    attribute(numbered("fan", fan, "_input"), std::to_string(values.actualRPM), false);
    attribute(numbered("fan", fan, "_min"), std::to_string(values.minRPM), onDevice);
    attribute(numbered("fan", fan, "_max"), std::to_string(values.maxRPM), false);
    attribute(targetAttribute(fan), std::to_string(values.actualRPM), fanControl);
    if (onDevice) attribute(numbered("fan", fan, "_safe"), std::to_string(values.maxRPM), false);
    if (applesmc()) {
      attribute(forceAttribute(fan), layout_ == SysfsLayout::convertedApplesmc ? "2" : "0", true);
    }
  }
  for (int sensor = 1; sensor <= static_cast<int>(sensors.size()); ++sensor) {
    attribute(numbered("temp", sensor, "_label"), sensors[sensor - 1].label, false);
    attribute(numbered("temp", sensor, "_input"), std::to_string(sensors[sensor - 1].millidegrees),
              false);
  }
}

void FakeSysfs::attribute(const std::string& name, const std::string& value, bool writable) const {
  set(name, value);
  std::filesystem::permissions(folder_ / name, writable ? kWritable : kReadOnly);
}

// /sys/class/hwmon/hwmonN and the hwmon folder's "device", as hwmon_device_register makes them.
void FakeSysfs::link(const std::filesystem::path& hwmon) const {
  std::filesystem::create_directory_symlink("../..", hwmon / "device");
  const auto classes = root_ / "class/hwmon";
  std::filesystem::create_directories(classes);
  std::filesystem::create_directory_symlink(std::filesystem::relative(hwmon, classes),
                                            classes / hwmon.filename());
}

std::string FakeSysfs::get(const std::string& name) const {
  return contentOf(folder_ / name);
}

// Written as its owner, whatever the file's mode.
void FakeSysfs::set(const std::string& name, const std::string& value) const {
  const auto path = folder_ / name;
  const bool exists = std::filesystem::exists(path);
  const auto mode = exists ? std::filesystem::status(path).permissions() : kReadOnly;
  if (exists) std::filesystem::permissions(path, mode | perms::owner_write);
  putFile(path, value + "\n");
  std::filesystem::permissions(path, mode);
}

int FakeSysfs::fanCount() const {
  int count = 0;
  while (std::filesystem::exists(folder_ / numbered("fan", count + 1, "_input"))) ++count;
  return count;
}

std::vector<std::string> FakeSysfs::values(const std::string& suffix) const {
  std::vector<std::string> found;
  for (int fan = 1; fan <= fanCount(); ++fan) {
    const auto name = suffix == "force"    ? forceAttribute(fan)
                      : suffix == "target" ? targetAttribute(fan)
                                           : numbered("fan", fan, "_" + suffix);
    found.push_back(trimmed(get(name)));
  }
  return found;
}

// applesmc_store_fan_speed: kstrtoul and below 0x4000; applesmc_store_fan_manual: kstrtoul;
// hwmon's pwmN_enable: 1 or 2 here; macsmc_hwmon_write_fan: 0, or within [min, max].
std::vector<std::string> FakeSysfs::ruleBreaches() const {
  std::vector<std::string> breaches;
  for (int fan = 1; fan <= fanCount(); ++fan) {
    const auto target = targetAttribute(fan);
    const auto force = forceAttribute(fan);
    long value = 0, minimum = 0, maximum = 0;
    (void)decimal(get(numbered("fan", fan, "_min")), minimum);
    (void)decimal(get(numbered("fan", fan, "_max")), maximum);
    if (!decimal(get(target), value)) {
      breaches.push_back(target + " is not a decimal number: " + get(target));
    } else if (applesmc() && value >= 0x4000) {
      breaches.push_back(target + " is 0x4000 or more");
    } else if (!applesmc() && value != 0 && (value < minimum || value > maximum)) {
      breaches.push_back(target + " is outside [min, max] and not 0");
    }
    if (force != target && !decimal(get(force), value)) {
      breaches.push_back(force + " is not a decimal number: " + get(force));
    } else if (layout_ == SysfsLayout::convertedApplesmc && value != 1 && value != 2) {
      breaches.push_back(force + " is neither 1 nor 2");
    }
  }
  return breaches;
}

void FakeSysfs::giveTo(uid_t uid, gid_t gid) const {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
    (void)::lchown(entry.path().c_str(), uid, gid);
  }
  (void)::lchown(root_.c_str(), uid, gid);
}

}  // namespace zephro::testing
