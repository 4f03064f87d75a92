#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/servicemanager/AutostartLoginItem.h"
#include "platform/servicemanager/CommandRunner.h"
#include "platform/servicemanager/ServiceManager.h"
#include "platform/servicemanager/StartupSettingsOpener.h"

namespace zephro {

struct DevelopmentLayout {
  std::filesystem::path helperExecutable;
  // The emulated machine the helper drives (a JSON machine profile).
  std::filesystem::path machineProfile;
  // The key that certifies the signing team; empty lets the helper use its built-in one.
  std::filesystem::path anchorKey;
  // Holds the registration record, the emulated machine's state and the helper's log.
  std::filesystem::path runtimeDir;
  std::filesystem::path socketPath;
  // How long a started helper may take to listen on its socket.
  std::chrono::milliseconds startTimeout{10000};
  std::chrono::milliseconds stopTimeout{5000};

  [[nodiscard]] std::filesystem::path registrationFile() const {
    return runtimeDir / "helper-registration";
  }
  [[nodiscard]] std::filesystem::path machineStateFile() const {
    return runtimeDir / "emulated-smc-state.json";
  }
  [[nodiscard]] std::filesystem::path helperLogFile() const { return runtimeDir / "helper.log"; }
};

// $XDG_RUNTIME_DIR/zephro, or /tmp/zephro-<uid> where there is no runtime dir. Registering
// makes it (mode 0700) and refuses one that is not a directory of this user's alone.
[[nodiscard]] std::filesystem::path developmentRuntimeDir();

// The helper run as the user, without systemd: registering starts it on the emulated
// fan controller and waits until it listens; unregistering stops it. The registration
// (and the helper's pid) is kept in a small file so a later run of the application, or
// another process, sees it.
class DevelopmentDaemonService final : public Service {
 public:
  DevelopmentDaemonService(DevelopmentLayout layout, std::shared_ptr<CommandRunner> runner);

  [[nodiscard]] int status() const override;
  [[nodiscard]] std::optional<Error> registerService() override;
  [[nodiscard]] std::optional<Error> unregisterService() override;

 private:
  [[nodiscard]] std::optional<Error> startHelper();
  void stopRecordedHelper();

  const DevelopmentLayout layout_;
  const std::shared_ptr<CommandRunner> runner_;
};

class DevelopmentServiceManager final : public ServiceManager {
 public:
  DevelopmentServiceManager(DevelopmentLayout layout, std::shared_ptr<CommandRunner> runner,
                            std::unique_ptr<AutostartLoginItem> loginItem,
                            StartupSettingsOpener settingsOpener);

  [[nodiscard]] std::unique_ptr<Service> daemonService(const std::string& plistName) override;
  [[nodiscard]] Service& mainAppService() override;
  void openSystemSettingsLoginItems() override;

  [[nodiscard]] const DevelopmentLayout& layout() const { return layout_; }

 private:
  const DevelopmentLayout layout_;
  const std::shared_ptr<CommandRunner> runner_;
  const std::unique_ptr<AutostartLoginItem> loginItem_;
  const StartupSettingsOpener settingsOpener_;
};

}  // namespace zephro
