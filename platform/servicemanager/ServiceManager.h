#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/error/Error.h"

namespace zephro {

// The helper daemon's service description, as the application registers it.
inline constexpr const char* kHelperPlistName = "com.zephro.helper.plist";

// What a service's status reads. Any other integer counts as unknown.
enum class ServiceStatus : int {
  notRegistered = 0,
  enabled = 1,
  requiresApproval = 2,
  notFound = 3,
};

// One registrable service: the helper daemon or the application's login item.
class Service {
 public:
  virtual ~Service() = default;

  // Cheap; a registration made a moment before may show only after a short delay.
  // An integer because a service manager may answer values outside ServiceStatus.
  [[nodiscard]] virtual int status() const = 0;
  // Both block the calling thread. They answer the error on failure.
  [[nodiscard]] virtual std::optional<Error> registerService() = 0;
  [[nodiscard]] virtual std::optional<Error> unregisterService() = 0;
};

// The system's service manager, the stand-in for SMAppService.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // A fresh service object for the daemon described by plistName
  // ("com.zephro.helper.plist"); callers never keep it.
  [[nodiscard]] virtual std::unique_ptr<Service> daemonService(const std::string& plistName) = 0;
  // The application itself as a login item.
  [[nodiscard]] virtual Service& mainAppService() = 0;
  // Opens the desktop's settings where the user approves the helper and login items.
  virtual void openSystemSettingsLoginItems() = 0;
};

}  // namespace zephro
