#include "platform/servicemanager/ServiceManagerFactory.h"

#include <cstdlib>

#include "platform/servicemanager/AutostartLoginItem.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "platform/servicemanager/StartupSettingsOpener.h"
#include "platform/servicemanager/SystemdServiceManager.h"

namespace zephro {

namespace {

constexpr std::string_view kOption = "--service-manager";
// The emulated machine the development helper drives: a laptop with two fans.
constexpr const char* kDevelopmentMachine = "macbookpro16-1.json";

std::filesystem::path helperSocketForDevelopment(const std::filesystem::path& runtimeDir) {
  if (const char* socket = std::getenv("ZEPHRO_HELPER_SOCKET"); socket != nullptr && socket[0]) {
    return socket;
  }
  return runtimeDir / "com.zephro.helper.sock";
}

}  // namespace

std::optional<ServiceManagerBackend> serviceManagerBackendNamed(std::string_view name) {
  if (name == "systemd") return ServiceManagerBackend::systemd;
  if (name == "development") return ServiceManagerBackend::development;
  return std::nullopt;
}

BackendSelection selectServiceManagerBackend(const std::vector<std::string>& arguments,
                                             const char* environmentValue) {
  std::optional<std::string> chosen;
  std::string source;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == kOption) {
      if (i + 1 >= arguments.size()) {
        return {ServiceManagerBackend::systemd,
                "--service-manager needs a value: development or systemd"};
      }
      chosen = arguments[++i];
      source = "--service-manager";
    } else if (argument.starts_with(std::string(kOption) + "=")) {
      chosen = std::string(argument.substr(kOption.size() + 1));
      source = "--service-manager";
    }
  }
  if (!chosen && environmentValue != nullptr && environmentValue[0] != '\0') {
    chosen = environmentValue;
    source = "ZEPHRO_SERVICE_MANAGER";
  }
  if (!chosen) return {};
  if (const auto backend = serviceManagerBackendNamed(*chosen)) return {*backend, {}};
  return {ServiceManagerBackend::systemd,
          source + ": unknown service manager \"" + *chosen + "\" (development or systemd)"};
}

ApplicationPaths ApplicationPaths::forExecutable(const std::filesystem::path& executable) {
  const auto dir = executable.parent_path();
  const auto prefix = dir.parent_path();
  const std::filesystem::path sources = ZEPHRO_SOURCE_DIR;
  ApplicationPaths paths;
  paths.executable = executable;
  paths.systemdUnitDir = ZEPHRO_SYSTEMD_UNIT_DIR;
  paths.installScript = ZEPHRO_HELPER_UNITS_SCRIPT;
  paths.helperCandidates = {dir / "com.zephro.helper",
                            prefix / "libexec" / "zephro" / "com.zephro.helper",
                            prefix / "helper" / "com.zephro.helper"};
  paths.machineProfileCandidates = {
      prefix / "share" / "zephro" / "machines" / kDevelopmentMachine,
      sources / "platform" / "smc" / "machines" / kDevelopmentMachine};
  // A build tree signs with its own development anchor. An installed tree passes the
  // anchor installed beside it: the helper's own default is the system-wide path, which a
  // tree unpacked elsewhere (a package extracted into a folder) does not use.
  paths.anchorKeyCandidates = {prefix / "signing" / "anchor.pub",
                               prefix / "share" / "zephro" / "anchor.pub"};
  return paths;
}

std::filesystem::path firstExisting(const std::vector<std::filesystem::path>& candidates) {
  std::error_code error;
  for (const auto& candidate : candidates) {
    if (std::filesystem::exists(candidate, error)) return candidate;
  }
  return candidates.empty() ? std::filesystem::path() : candidates.front();
}

ServiceManagerSetup makeServiceManager(ServiceManagerBackend backend, const ApplicationPaths& paths,
                                       std::shared_ptr<CommandRunner> runner) {
  auto loginItem = std::make_unique<AutostartLoginItem>(
      AutostartLoginItem::defaultDesktopFile(), desktopExecQuoted(paths.executable.string()));
  auto opener = StartupSettingsOpener::fromEnvironment(runner);

  if (backend == ServiceManagerBackend::development) {
    DevelopmentLayout layout;
    layout.helperExecutable = firstExisting(paths.helperCandidates);
    layout.machineProfile = firstExisting(paths.machineProfileCandidates);
    std::error_code error;
    const auto anchor = firstExisting(paths.anchorKeyCandidates);
    if (std::filesystem::exists(anchor, error)) layout.anchorKey = anchor;
    layout.runtimeDir = developmentRuntimeDir();
    layout.socketPath = helperSocketForDevelopment(layout.runtimeDir);
    auto socket = layout.socketPath;
    return {std::make_unique<DevelopmentServiceManager>(std::move(layout), std::move(runner),
                                                        std::move(loginItem), std::move(opener)),
            std::move(socket)};
  }

  SystemdLayout layout{paths.systemdUnitDir, paths.installScript};
  return {std::make_unique<SystemdServiceManager>(std::move(layout), std::move(runner),
                                                  std::move(loginItem), std::move(opener)),
          {}};
}

}  // namespace zephro
