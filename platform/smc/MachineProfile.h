#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zephro::smc {

// How a machine's thermal daemon treats a written mode key.
enum class ThermalDaemon {
  none,           // writes stick
  always,         // every write snaps back to 3
  untilUnlocked,  // writes snap back to 3 unless "Ftst" holds 1
};

struct FanProfile {
  double minRPM = 0;
  // What the fan's "F%dMx" key reports; some firmware reports 0.
  double maxRPM = 0;
  // The fastest the fan can really turn; defaults to maxRPM, or 6000 when that is 0.
  double physicalMaxRPM = 0;
};

struct SensorProfile {
  std::string key;            // four characters, e.g. "TC0P"
  std::string type = "sp78";  // "sp78" or "flt "
  double offset = 0;          // degrees above the die temperature the model tracks
};

// A simple thermal model: the die heads for ambient + heatLoad / (1 + cooling x
// airflow), airflow being the mean fraction of each fan's physical maximum.
struct ThermalProfile {
  double ambientC = 24;
  double heatLoadC = 50;
  double cooling = 1.5;
  double timeConstantSeconds = 30;
  // The firmware's automatic curve: minimum speed at or below curveLowC, physical
  // maximum at or above curveHighC.
  double curveLowC = 45;
  double curveHighC = 90;
};

// One emulated machine: its keys, its fans and the firmware's quirks.
struct MachineProfile {
  std::string name;   // file stem, e.g. "macbookpro16-1"
  std::string model;  // e.g. "MacBookPro16,1"
  std::string description;
  std::string fanSpeedType = "fpe2";         // "fpe2" or "flt "
  std::optional<std::string> modeKeyFormat;  // "F%dMd", "F%dmd" or none
  bool hasFtst = false;
  bool hasForceMask = true;
  ThermalDaemon thermalDaemon = ThermalDaemon::none;
  std::uint8_t initialMode = 0;
  double rampRPMPerSecond = 1500;
  std::vector<FanProfile> fans;
  std::vector<SensorProfile> sensors;
  ThermalProfile thermal;

  // Parses a profile; throws std::runtime_error naming the problem.
  [[nodiscard]] static MachineProfile fromJson(std::string_view text, std::string name = {});
  [[nodiscard]] static MachineProfile load(const std::filesystem::path& file);
};

// Where profiles are looked up by name: $ZEPHRO_MACHINES_DIR, the installed data
// directory, then the source tree.
[[nodiscard]] std::vector<std::filesystem::path> machineDirectories();

// A profile path for "name" or "path/to/file.json"; nullopt when there is none.
[[nodiscard]] std::optional<std::filesystem::path> findMachineProfile(std::string_view nameOrPath);

}  // namespace zephro::smc
