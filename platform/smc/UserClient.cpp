#include "platform/smc/UserClient.h"

#include <exception>

#include "platform/smc/EmulatedSmc.h"
#include "platform/smc/MachineProfile.h"
#include "platform/smc/SysfsDevice.h"
#include "platform/smc/SysfsUserClient.h"

namespace zephro::smc {
namespace {

constexpr std::string_view kEmulatedPrefix = "emulated:";

std::unique_ptr<UserClient> unavailable(std::string reason) {
  return std::make_unique<UnavailableUserClient>(std::move(reason));
}

std::unique_ptr<UserClient> makeEmulatedClient(std::string_view options) {
  std::string_view profileName = options.substr(0, options.find(','));
  std::optional<std::filesystem::path> stateFile;
  std::string_view rest = profileName.size() < options.size()
                              ? options.substr(profileName.size() + 1)
                              : std::string_view{};
  while (!rest.empty()) {
    const auto option = rest.substr(0, rest.find(','));
    rest = option.size() < rest.size() ? rest.substr(option.size() + 1) : std::string_view{};
    if (option.starts_with("state=") && option.size() > 6) {
      stateFile = std::filesystem::path(std::string(option.substr(6)));
    } else {
      return unavailable("unknown emulated SMC option '" + std::string(option) + "'");
    }
  }
  if (profileName.empty()) return unavailable("emulated SMC needs a machine profile");
  const auto path = findMachineProfile(profileName);
  if (!path) return unavailable("machine profile '" + std::string(profileName) + "' not found");
  try {
    auto smc = std::make_shared<EmulatedSmc>(MachineProfile::load(*path), stateFile);
    return std::make_unique<EmulatedUserClient>(std::move(smc));
  } catch (const std::exception& error) {
    return unavailable(error.what());
  }
}

std::unique_ptr<UserClient> sysfsClient(SysfsDevice device) {
  return std::make_unique<SysfsUserClient>(std::move(device));
}

// "applesmc" searches /sys, "applesmc:DIR" takes DIR as the device's folder.
std::unique_ptr<UserClient> makeDriverClient(SysfsDriver driver,
                                             std::optional<std::string_view> directory) {
  const std::string name(driverNameOf(driver));
  if (directory) {
    if (directory->empty()) return unavailable(name + " needs a directory");
    return sysfsClient({driver, std::filesystem::path(std::string(*directory))});
  }
  if (auto device = findSysfsDevice(driver, kSysfsRoot)) return sysfsClient(std::move(*device));
  return unavailable("no " + name + " device under " + kSysfsRoot);
}

std::unique_ptr<UserClient> makeAutomaticClient(std::optional<std::string_view> sysfsRoot) {
  if (sysfsRoot && sysfsRoot->empty()) return unavailable("auto needs a sysfs root after ':'");
  const std::filesystem::path root(std::string(sysfsRoot.value_or(kSysfsRoot)));
  for (const auto driver : {SysfsDriver::applesmc, SysfsDriver::macsmc}) {
    if (auto device = findSysfsDevice(driver, root)) return sysfsClient(std::move(*device));
  }
  return unavailable("no applesmc or macsmc-hwmon device under " + root.string());
}

}  // namespace

std::unique_ptr<UserClient> makeUserClient(std::string_view spec) {
  if (spec.empty()) return unavailable("no SMC backend configured");
  if (spec.starts_with(kEmulatedPrefix))
    return makeEmulatedClient(spec.substr(kEmulatedPrefix.size()));
  const auto colon = spec.find(':');
  const auto backend = spec.substr(0, colon);
  const auto argument = colon == std::string_view::npos
                            ? std::nullopt
                            : std::optional<std::string_view>(spec.substr(colon + 1));
  if (backend == "applesmc") return makeDriverClient(SysfsDriver::applesmc, argument);
  if (backend == "macsmc") return makeDriverClient(SysfsDriver::macsmc, argument);
  if (backend == "auto") return makeAutomaticClient(argument);
  return unavailable("unknown SMC backend '" + std::string(spec) + "'");
}

}  // namespace zephro::smc
