#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/servicemanager/CommandRunner.h"
#include "platform/servicemanager/ServiceManager.h"

namespace zephro {

enum class ServiceManagerBackend {
  systemd,      // the helper as system units, installed through polkit
  development,  // the helper as the user, on the emulated fan controller
};

[[nodiscard]] std::optional<ServiceManagerBackend> serviceManagerBackendNamed(
    std::string_view name);

struct BackendSelection {
  ServiceManagerBackend backend = ServiceManagerBackend::systemd;
  // Set when the option or variable names no backend.
  std::string error;
};

// "--service-manager NAME" (or "--service-manager=NAME") among the arguments, else the
// ZEPHRO_SERVICE_MANAGER value (null when unset), else systemd.
[[nodiscard]] BackendSelection selectServiceManagerBackend(
    const std::vector<std::string>& arguments, const char* environmentValue);

// Where the application finds what the backends need, from where it runs: installed
// (bin/zephro with share/zephro and libexec/zephro beside), or in the build tree
// (build/app/zephro with build/helper/com.zephro.helper) with the sources' resources.
// The system units and their install script are the exception: they live where the
// build's install prefix puts them, since the root-run script trusts no other place.
struct ApplicationPaths {
  std::filesystem::path executable;
  std::filesystem::path systemdUnitDir;
  std::filesystem::path installScript;
  std::vector<std::filesystem::path> helperCandidates;
  std::vector<std::filesystem::path> machineProfileCandidates;
  std::vector<std::filesystem::path> anchorKeyCandidates;

  [[nodiscard]] static ApplicationPaths forExecutable(const std::filesystem::path& executable);
};

// The first of the candidates that exists, else the first candidate (so that a message
// about it names a sensible place), else empty.
[[nodiscard]] std::filesystem::path firstExisting(
    const std::vector<std::filesystem::path>& candidates);

struct ServiceManagerSetup {
  std::unique_ptr<ServiceManager> manager;
  // The socket the application must connect to; empty means the service name's default.
  std::filesystem::path helperSocket;
};

[[nodiscard]] ServiceManagerSetup makeServiceManager(ServiceManagerBackend backend,
                                                     const ApplicationPaths& paths,
                                                     std::shared_ptr<CommandRunner> runner);

}  // namespace zephro
