#include "app/settings/LaunchAtLogin.h"

#include "platform/log/Log.h"
#include "platform/servicemanager/ServiceManager.h"

namespace zephro {

void setLaunchAtLogin(ServiceManager& manager, bool enabled) {
  Service& loginItem = manager.mainAppService();
  std::optional<Error> failure;
  if (enabled) {
    if (loginItem.status() == static_cast<int>(ServiceStatus::enabled)) return;
    failure = loginItem.registerService();
  } else {
    failure = loginItem.unregisterService();
  }
  if (failure) {
    log::write("[Zephro] Failed to toggle launch at login: " + failure->fullDescription());
  }
}

bool isLaunchAtLoginEnabled(ServiceManager& manager) {
  return manager.mainAppService().status() == static_cast<int>(ServiceStatus::enabled);
}

}  // namespace zephro
