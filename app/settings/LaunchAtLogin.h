#pragma once

namespace zephro {

class ServiceManager;

// Registers or unregisters the application as a login item. Enabling an item that
// is already enabled does nothing; disabling always unregisters. A failure is only
// logged: callers show the service's real status, never the requested one.
void setLaunchAtLogin(ServiceManager& manager, bool enabled);

// The switch's state: on exactly when the login item's status is enabled.
[[nodiscard]] bool isLaunchAtLoginEnabled(ServiceManager& manager);

}  // namespace zephro
