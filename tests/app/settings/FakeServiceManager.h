#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "platform/servicemanager/ServiceManager.h"

namespace zephro::testing {

// A login item whose status and failures a test scripts; it counts the calls made.
class FakeService : public Service {
 public:
  int status() const override { return status_; }

  std::optional<Error> registerService() override {
    ++registerCalls;
    if (registerFailure) return registerFailure;
    status_ = statusAfterRegister;
    return std::nullopt;
  }

  std::optional<Error> unregisterService() override {
    ++unregisterCalls;
    if (unregisterFailure) return unregisterFailure;
    status_ = static_cast<int>(ServiceStatus::notRegistered);
    return std::nullopt;
  }

  void setStatus(int status) { status_ = status; }
  int statusAfterRegister = static_cast<int>(ServiceStatus::enabled);
  std::optional<Error> registerFailure;
  std::optional<Error> unregisterFailure;
  int registerCalls = 0;
  int unregisterCalls = 0;

 private:
  int status_ = static_cast<int>(ServiceStatus::notRegistered);
};

class FakeServiceManager : public ServiceManager {
 public:
  std::unique_ptr<Service> daemonService(const std::string&) override {
    throw std::logic_error("the login item code must not touch the daemon");
  }
  Service& mainAppService() override { return loginItem; }
  void openSystemSettingsLoginItems() override { ++openedLoginItems; }

  FakeService loginItem;
  int openedLoginItems = 0;
};

}  // namespace zephro::testing
