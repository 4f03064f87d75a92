#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace zephro::bundle {
class InfoDictionary;
}

namespace zephro::telemetry {

// What every report says about the installation, encoded in this order.
struct TelemetryContext {
  std::string appVersion;  // "CFBundleShortVersionString", "0" without one
  std::string build;       // "CFBundleVersion", "0" without one
  std::string osVersion;   // the running kernel as major.minor.patch
  std::string machineId;   // an id of this machine for this application only, or "unknown"
  std::string model;       // the firmware's product name, or "unknown"

  // The context of this process, built on first use.
  [[nodiscard]] static const TelemetryContext& shared();
  // Builds one from an information file and the machine's own descriptions.
  [[nodiscard]] static TelemetryContext make(
      const bundle::InfoDictionary& info, const std::string& kernelRelease,
      const std::filesystem::path& productName = "/sys/class/dmi/id/product_name");

  [[nodiscard]] nlohmann::ordered_json toJson() const;
  friend bool operator==(const TelemetryContext&, const TelemetryContext&) = default;
};

// "6.1.0-18-amd64" → "6.1.0": the first three numbers of a kernel release, missing ones 0.
[[nodiscard]] std::string osVersionFromRelease(const std::string& release);

// The machine id of /etc/machine-id hashed with this application's own id, so reports
// never carry the raw id; "unknown" without one.
[[nodiscard]] std::string applicationMachineId();

}  // namespace zephro::telemetry
