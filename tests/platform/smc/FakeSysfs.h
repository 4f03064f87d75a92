#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace zephro::testing {

// The folders the kernel's Apple SMC drivers make, as they make them.
enum class SysfsLayout {
  mainlineApplesmc,   // Intel Macs: applesmc's platform device applesmc.768
  t2Applesmc,         // T2 Macs: the same attributes on the ACPI device APP0001:00
  convertedApplesmc,  // applesmc on hwmon_device_register_with_info: fanN_target, pwmN_enable
  macsmcReadOnly,     // Apple silicon: macsmc-hwmon as it loads by default
  macsmcFanControl,   // macsmc-hwmon with its fan_control parameter
  macsmcFanless,      // a fanless Apple silicon laptop: sensors only
};

struct FakeFan {
  int minRPM = 0;
  int maxRPM = 0;
  int actualRPM = 0;
};

struct FakeSensor {
  std::string label;
  int millidegrees = 0;
};

[[nodiscard]] inline std::string contentOf(const std::filesystem::path& path) {
  return readFile(path);
}
void putFile(const std::filesystem::path& path, const std::string& content);

// Plain files cannot refuse what a driver refuses, so ruleBreaches() checks writes afterwards.
class FakeSysfs {
 public:
  FakeSysfs(SysfsLayout layout, std::filesystem::path root, std::vector<FakeFan> fans,
            std::vector<FakeSensor> sensors);

  // The folder that holds the fans and sensors.
  [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
  // "applesmc" or "macsmc-hwmon".
  [[nodiscard]] std::string driver() const;
  // The attribute that forces fan N (1-based) on this layout, and its target.
  [[nodiscard]] std::string forceAttribute(int fan) const;
  [[nodiscard]] std::string targetAttribute(int fan) const;

  [[nodiscard]] std::string get(const std::string& name) const;
  void set(const std::string& name, const std::string& value) const;
  // Every fan's value of one attribute, without the newline.
  [[nodiscard]] std::vector<std::string> values(const std::string& suffix) const;

  // What was written that the driver would have refused; empty when nothing.
  [[nodiscard]] std::vector<std::string> ruleBreaches() const;
  // Hands the tree to a user, so that a helper running as that user meets the modes.
  void giveTo(uid_t uid, gid_t gid) const;

 private:
  void make(const std::vector<FakeFan>& fans, const std::vector<FakeSensor>& sensors);
  void attribute(const std::string& name, const std::string& value, bool writable) const;
  void link(const std::filesystem::path& hwmon) const;
  [[nodiscard]] bool applesmc() const;
  [[nodiscard]] int fanCount() const;

  SysfsLayout layout_;
  std::filesystem::path root_;
  std::filesystem::path folder_;
};

}  // namespace zephro::testing
