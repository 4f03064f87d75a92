#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/servicemanager/AutostartLoginItem.h"
#include "platform/servicemanager/CommandRunner.h"
#include "platform/servicemanager/ServiceManager.h"
#include "platform/servicemanager/StartupSettingsOpener.h"

namespace zephro {

// The units a daemon property-list name stands for: "com.zephro.helper.plist" names
// com.zephro.helper.socket (the entry point, socket activation) and com.zephro.helper.service.
struct DaemonUnits {
  std::string socket;
  std::string service;

  [[nodiscard]] static DaemonUnits forPlistName(std::string_view plistName);
};

// How `systemctl is-enabled <socket>` reads as a service status: enabled units are
// enabled; units installed but disabled or masked need the user's approval; a unit
// systemd does not know (or an answer we cannot read) is not registered.
[[nodiscard]] int statusFromIsEnabled(const CommandResult& result);

// The daemon as systemd units installed system-wide. Registering has the install script,
// run as root through polkit (pkexec), copy the units shipped with the package into
// /etc/systemd/system and enable them; unregistering disables and removes them. The script
// knows where the package keeps its units; unitDir is that same place, read here only to
// tell whether the units are there at all.
class SystemdDaemonService final : public Service {
 public:
  SystemdDaemonService(DaemonUnits units, std::filesystem::path unitDir,
                       std::filesystem::path installScript, std::shared_ptr<CommandRunner> runner);

  [[nodiscard]] int status() const override;
  [[nodiscard]] std::optional<Error> registerService() override;
  [[nodiscard]] std::optional<Error> unregisterService() override;

 private:
  [[nodiscard]] bool unitsShipped() const;
  [[nodiscard]] std::optional<Error> runPrivileged(const std::vector<std::string>& arguments);

  const DaemonUnits units_;
  const std::filesystem::path unitDir_;
  const std::filesystem::path installScript_;
  const std::shared_ptr<CommandRunner> runner_;
  // The user dismissed the authentication of this object's last registration.
  bool authenticationDismissed_ = false;
};

struct SystemdLayout {
  // Where the package keeps the units the install script copies.
  std::filesystem::path unitDir;
  // The script pkexec runs as root to install or remove the units.
  std::filesystem::path installScript;
};

class SystemdServiceManager final : public ServiceManager {
 public:
  SystemdServiceManager(SystemdLayout layout, std::shared_ptr<CommandRunner> runner,
                        std::unique_ptr<AutostartLoginItem> loginItem,
                        StartupSettingsOpener settingsOpener);

  [[nodiscard]] std::unique_ptr<Service> daemonService(const std::string& plistName) override;
  [[nodiscard]] Service& mainAppService() override;
  void openSystemSettingsLoginItems() override;

 private:
  const SystemdLayout layout_;
  const std::shared_ptr<CommandRunner> runner_;
  const std::unique_ptr<AutostartLoginItem> loginItem_;
  const StartupSettingsOpener settingsOpener_;
};

}  // namespace zephro
