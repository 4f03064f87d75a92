#include "platform/smc/MachineProfile.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace zephro::smc {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxFans = 10;  // fan keys have room for one digit

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what);
}

double number(const json& object, const char* key, double fallback) {
  if (!object.contains(key)) return fallback;
  const auto& value = object.at(key);
  if (!value.is_number()) fail(std::string("\"") + key + "\" must be a number");
  const double result = value.get<double>();
  if (!std::isfinite(result)) fail(std::string("\"") + key + "\" must be finite");
  return result;
}

std::string text(const json& object, const char* key, std::string fallback) {
  if (!object.contains(key)) return fallback;
  const auto& value = object.at(key);
  if (!value.is_string()) fail(std::string("\"") + key + "\" must be a string");
  return value.get<std::string>();
}

bool flag(const json& object, const char* key, bool fallback) {
  if (!object.contains(key)) return fallback;
  const auto& value = object.at(key);
  if (!value.is_boolean()) fail(std::string("\"") + key + "\" must be true or false");
  return value.get<bool>();
}

const json& array(const json& object, const char* key) {
  static const json empty = json::array();
  if (!object.contains(key)) return empty;
  const auto& value = object.at(key);
  if (!value.is_array()) fail(std::string("\"") + key + "\" must be an array");
  return value;
}

ThermalDaemon daemonFrom(const std::string& value) {
  if (value == "none") return ThermalDaemon::none;
  if (value == "always") return ThermalDaemon::always;
  if (value == "untilUnlocked") return ThermalDaemon::untilUnlocked;
  fail(R"("thermalDaemon" must be "none", "always" or "untilUnlocked")");
}

FanProfile fanFrom(const json& entry) {
  if (!entry.is_object()) fail("every fan must be an object");
  FanProfile fan;
  fan.minRPM = number(entry, "min", 0);
  fan.maxRPM = number(entry, "max", 0);
  fan.physicalMaxRPM = number(entry, "physicalMax", fan.maxRPM > 0 ? fan.maxRPM : 6000);
  if (fan.minRPM < 0 || fan.maxRPM < 0 || fan.physicalMaxRPM <= 0) {
    fail("fan speeds must not be negative and \"physicalMax\" must be positive");
  }
  return fan;
}

SensorProfile sensorFrom(const json& entry) {
  if (!entry.is_object()) fail("every sensor must be an object");
  SensorProfile sensor;
  sensor.key = text(entry, "key", "");
  sensor.type = text(entry, "type", "sp78");
  sensor.offset = number(entry, "offset", 0);
  if (sensor.key.size() != 4) fail("sensor key \"" + sensor.key + "\" must be four characters");
  if (sensor.type != "sp78" && sensor.type != "flt ") {
    fail(R"(sensor type must be "sp78" or "flt ")");
  }
  return sensor;
}

}  // namespace

MachineProfile MachineProfile::fromJson(std::string_view source, std::string name) {
  const json root = json::parse(source, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded()) fail("not valid JSON");
  if (!root.is_object()) fail("a machine profile must be a JSON object");

  MachineProfile profile;
  profile.name = std::move(name);
  profile.model = text(root, "model", "");
  if (profile.model.empty()) fail("\"model\" is missing");
  profile.description = text(root, "description", "");
  profile.fanSpeedType = text(root, "fanSpeedType", "fpe2");
  if (profile.fanSpeedType != "fpe2" && profile.fanSpeedType != "flt ") {
    fail(R"("fanSpeedType" must be "fpe2" or "flt ")");
  }
  if (root.contains("modeKey") && !root.at("modeKey").is_null()) {
    const auto format = text(root, "modeKey", "");
    if (format != "F%dMd" && format != "F%dmd") {
      fail(R"("modeKey" must be "F%dMd", "F%dmd" or null)");
    }
    profile.modeKeyFormat = format;
  }
  profile.hasFtst = flag(root, "ftst", false);
  profile.thermalDaemon = daemonFrom(text(root, "thermalDaemon", "none"));
  const double initialMode = number(root, "initialMode", 0);
  if (initialMode < 0 || initialMode > 255) fail("\"initialMode\" must be a byte");
  profile.initialMode = static_cast<std::uint8_t>(initialMode);
  profile.rampRPMPerSecond = number(root, "rampRPMPerSecond", 1500);
  if (profile.rampRPMPerSecond <= 0) fail("\"rampRPMPerSecond\" must be positive");

  for (const auto& entry : array(root, "fans")) profile.fans.push_back(fanFrom(entry));
  if (profile.fans.size() > kMaxFans) fail("at most 10 fans fit the SMC's key names");
  profile.hasForceMask = flag(root, "forceMask", !profile.fans.empty());
  for (const auto& entry : array(root, "sensors")) profile.sensors.push_back(sensorFrom(entry));

  if (root.contains("thermal")) {
    const auto& thermal = root.at("thermal");
    if (!thermal.is_object()) fail("\"thermal\" must be an object");
    auto& model = profile.thermal;
    model.ambientC = number(thermal, "ambient", model.ambientC);
    model.heatLoadC = number(thermal, "heatLoad", model.heatLoadC);
    model.cooling = number(thermal, "cooling", model.cooling);
    model.timeConstantSeconds = number(thermal, "timeConstant", model.timeConstantSeconds);
    model.curveLowC = number(thermal, "curveLow", model.curveLowC);
    model.curveHighC = number(thermal, "curveHigh", model.curveHighC);
    if (model.cooling < 0 || model.timeConstantSeconds <= 0 ||
        model.curveHighC <= model.curveLowC) {
      fail("\"thermal\" needs cooling >= 0, timeConstant > 0 and curveHigh > curveLow");
    }
  }
  return profile;
}

MachineProfile MachineProfile::load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) fail("cannot read machine profile " + file.string());
  std::ostringstream content;
  content << in.rdbuf();
  try {
    return fromJson(content.str(), file.stem().string());
  } catch (const std::exception& error) {
    fail("machine profile " + file.string() + ": " + error.what());
  }
}

std::vector<std::filesystem::path> machineDirectories() {
  std::vector<std::filesystem::path> directories;
  if (const char* override = std::getenv("ZEPHRO_MACHINES_DIR"); override && *override) {
    directories.emplace_back(override);
  }
  directories.emplace_back(ZEPHRO_MACHINES_INSTALL_DIR);
  directories.emplace_back(ZEPHRO_MACHINES_SOURCE_DIR);
  return directories;
}

std::optional<std::filesystem::path> findMachineProfile(std::string_view nameOrPath) {
  if (nameOrPath.empty()) return std::nullopt;
  const std::filesystem::path given{std::string(nameOrPath)};
  std::error_code error;
  if (given.has_parent_path() || given.extension() == ".json") {
    if (std::filesystem::is_regular_file(given, error)) return given;
    return std::nullopt;
  }
  for (const auto& directory : machineDirectories()) {
    const auto candidate = directory / (given.string() + ".json");
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

}  // namespace zephro::smc
