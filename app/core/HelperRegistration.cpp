#include "app/core/HelperRegistration.h"

#include <thread>

#include "app/core/HelperInstallError.h"
#include "platform/log/Log.h"

namespace zephro {

namespace {

constexpr int kNotRegistered = static_cast<int>(ServiceStatus::notRegistered);
constexpr int kEnabled = static_cast<int>(ServiceStatus::enabled);
constexpr int kRequiresApproval = static_cast<int>(ServiceStatus::requiresApproval);
constexpr int kNotFound = static_cast<int>(ServiceStatus::notFound);

// The status once it is enabled, or as it reads after the last round.
int settledStatus(const Service& service, const SettlingWait& wait, int status) {
  for (int round = 0; round < wait.rounds && status != kEnabled; ++round) {
    std::this_thread::sleep_for(wait.interval);
    status = service.status();
  }
  return status;
}

void registerFirstTime(Service& service, const SettlingWait& wait) {
  if (const auto error = service.registerService()) {
    log::write("[Zephro] SMAppService failed to register: " + error->localizedDescription());
    if (service.status() == kRequiresApproval) throw HelperInstallError::requiresApproval();
    throw HelperInstallError::registrationFailed(error->localizedDescription());
  }
  const int registered = service.status();
  log::write("[Zephro] Helper registered with SMAppService. Status: " + std::to_string(registered));
  const int status = settledStatus(service, wait, registered);
  if (status == kEnabled) return;
  if (status == kRequiresApproval) throw HelperInstallError::requiresApproval();
  throw HelperInstallError::registrationFailed("Helper status: " + std::to_string(status));
}

void reregister(Service& service, const SettlingWait& wait,
                const std::function<void()>& dropConnection) {
  log::write("[Zephro] Reinstalling enabled helper to refresh to the current binary.");
  if (const auto error = service.unregisterService()) {
    log::write("[Zephro] SMAppService failed to unregister helper before repair: " +
               error->localizedDescription());
  }
  const auto registerError = service.registerService();
  if (registerError) {
    log::write("[Zephro] SMAppService failed to register after refresh: " +
               registerError->localizedDescription());
  }
  dropConnection();

  const int status = settledStatus(service, wait, service.status());
  if (status == kEnabled) {
    log::write("[Zephro] Helper re-registered via SMAppService.");
    return;
  }
  if (status == kRequiresApproval) throw HelperInstallError::requiresApproval();
  // A status that is slow to catch up after a registration that went through is worth
  // a try; a registration that failed and left the helper unregistered is not.
  if (registerError)
    throw HelperInstallError::registrationFailed(registerError->localizedDescription());
  log::write("[Zephro] Helper status still " + std::to_string(status) +
             " after re-registration; proceeding optimistically.");
}

}  // namespace

void registerHelperService(ServiceManager& manager, bool forceRefresh, const SettlingWait& wait,
                           const std::function<void()>& dropConnection) {
  const auto service = manager.daemonService(kHelperPlistName);
  const int status = service->status();
  switch (status) {
    case kNotRegistered:
    case kNotFound:
      registerFirstTime(*service, wait);
      return;
    case kEnabled:
      if (!forceRefresh) {
        log::write("[Zephro] Helper is already enabled via SMAppService.");
        return;
      }
      reregister(*service, wait, dropConnection);
      return;
    case kRequiresApproval:
      log::write("[Zephro] Helper requires approval in Login Items.");
      throw HelperInstallError::requiresApproval();
    default:
      throw HelperInstallError::registrationFailed("Unknown helper status: " +
                                                   std::to_string(status));
  }
}

}  // namespace zephro
