#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zephro::testing {

struct FakeFan {
  int minRPM = 0;
  int maxRPM = 0;
  int actualRPM = 0;
};

struct FakeSensor {
  std::string label;
  int millidegrees = 0;
};

inline std::string contentOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void putFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A driver's attribute folder laid out as the kernel makes it, every value a line of
// decimal text. applesmc puts its attributes on the platform device (fanN_output and
// fanN_manual writable, the rest read-only, temperature labels the SMC's keys);
// macsmc-hwmon on its hwmon device, fanN_target instead of output and manual.
class FakeSysfsDevice {
 public:
  enum class Driver { applesmc, macsmc };

  FakeSysfsDevice(std::filesystem::path directory, Driver driver, const std::vector<FakeFan>& fans,
                  const std::vector<FakeSensor>& sensors)
      : directory_(std::move(directory)) {
    const bool applesmc = driver == Driver::applesmc;
    set("name", applesmc ? "applesmc" : "macsmc_hwmon");
    for (std::size_t i = 0; i < fans.size(); ++i) {
      const auto fan = "fan" + std::to_string(i + 1) + "_";
      set(fan + "label", applesmc ? "Fan " + std::to_string(i + 1) : "Exhaust");
      set(fan + "input", std::to_string(fans[i].actualRPM));
      set(fan + "min", std::to_string(fans[i].minRPM));
      set(fan + "max", std::to_string(fans[i].maxRPM));
      set(fan + (applesmc ? "output" : "target"), std::to_string(fans[i].actualRPM));
      if (applesmc) set(fan + "manual", "0");
    }
    for (std::size_t i = 0; i < sensors.size(); ++i) {
      const auto temp = "temp" + std::to_string(i + 1) + "_";
      set(temp + "label", sensors[i].label);
      set(temp + "input", std::to_string(sensors[i].millidegrees));
    }
  }

  [[nodiscard]] const std::filesystem::path& directory() const { return directory_; }
  [[nodiscard]] std::string get(const std::string& name) const {
    return contentOf(directory_ / name);
  }
  void set(const std::string& name, const std::string& value) const {
    putFile(directory_ / name, value + "\n");
  }

  // Root may write to any file, whatever its mode, but nobody can open a directory for
  // writing (EISDIR): the attribute stays present, and every write to it fails.
  void makeUnwritable(const std::string& name) const {
    std::filesystem::remove(directory_ / name);
    std::filesystem::create_directory(directory_ / name);
  }

  // The firmware's part, which a fake cannot do by itself: a fan under manual control
  // spins at its output; the others stay where the firmware keeps them.
  void tick() const {
    for (int fan = 1; std::filesystem::exists(directory_ / attribute(fan, "input")); ++fan) {
      if (get(attribute(fan, "manual")) == "1\n") {
        set(attribute(fan, "input"), trimmed(get(attribute(fan, "output"))));
      }
    }
  }

  // One item of every fan ("manual", "output"), without the newline.
  [[nodiscard]] std::vector<std::string> fanValues(const std::string& item) const {
    std::vector<std::string> values;
    for (int fan = 1; std::filesystem::exists(directory_ / attribute(fan, "input")); ++fan) {
      values.push_back(trimmed(get(attribute(fan, item))));
    }
    return values;
  }

 private:
  static std::string attribute(int fan, const std::string& item) {
    return "fan" + std::to_string(fan) + "_" + item;
  }
  static std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  std::filesystem::path directory_;
};

}  // namespace zephro::testing
