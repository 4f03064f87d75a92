#include "app/services/telemetry/TelemetryContext.h"

#include <sys/utsname.h>
#include <systemd/sd-id128.h>

#include <array>
#include <cctype>

#include "platform/bundle/Bundle.h"
#include "platform/bundle/InfoDictionary.h"
#include "platform/systeminfo/SystemInfo.h"

namespace zephro::telemetry {
namespace {

// Zephro's own 128-bit id, with which the machine id is hashed (sd_id128_get_machine_app_specific).
constexpr sd_id128_t kApplicationId =
    SD_ID128_MAKE(5e, f1, 7a, c0, da, 47, 43, fd, aa, a4, dd, 82, 7d, 25, 1a, 9a);

std::string kernelRelease() {
  utsname name{};
  if (::uname(&name) != 0) return {};
  return name.release;
}

}  // namespace

const TelemetryContext& TelemetryContext::shared() {
  static const TelemetryContext context = make(bundle::Bundle::info(), kernelRelease());
  return context;
}

TelemetryContext TelemetryContext::make(const bundle::InfoDictionary& info,
                                        const std::string& release,
                                        const std::filesystem::path& productName) {
  return {
      .appVersion = info.string("CFBundleShortVersionString").value_or("0"),
      .build = info.string("CFBundleVersion").value_or("0"),
      .osVersion = osVersionFromRelease(release),
      .machineId = applicationMachineId(),
      .model = SystemInfo::model(productName),
  };
}

nlohmann::ordered_json TelemetryContext::toJson() const {
  return {{"appVersion", appVersion},
          {"build", build},
          {"osVersion", osVersion},
          {"machineId", machineId},
          {"model", model}};
}

std::string osVersionFromRelease(const std::string& release) {
  std::array<unsigned long, 3> parts{0, 0, 0};
  std::size_t at = 0;
  for (unsigned long& part : parts) {
    if (at >= release.size() || std::isdigit(static_cast<unsigned char>(release[at])) == 0) break;
    std::size_t used = 0;
    part = std::stoul(release.substr(at, 9), &used);
    at += used;
    if (at >= release.size() || release[at] != '.') break;
    ++at;
  }
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::string applicationMachineId() {
  sd_id128_t id{};
  if (sd_id128_get_machine_app_specific(kApplicationId, &id) < 0) return "unknown";
  std::array<char, SD_ID128_STRING_MAX> text{};
  return sd_id128_to_string(id, text.data());
}

}  // namespace zephro::telemetry
