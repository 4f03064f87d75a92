#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantList>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "app/intents/FanIntents.h"
#include "app/services/AppUpdateManager.h"
#include "app/shell/Automation.h"
#include "app/shell/QuitCoordinator.h"
#include "app/shell/SingleInstance.h"
#include "app/ui/LocalizationManager.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "platform/smc/EmulatedSmc.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {

// The application's bus object as the tray application serves it (the name, the
// org.freedesktop.Application actions and com.zephro.Intents1) on a private bus, over a
// view model talking to the real helper on an emulated machine. The application counts
// as launched once the test says so.
class AutomationOnBus {
 public:
  // machineProfile: a profile file; empty for the two-fan MacBookPro16,1.
  explicit AutomationOnBus(std::filesystem::path machineProfile = {},
                           FanIntentsOptions options = {});
  ~AutomationOnBus();

  // Registers and starts the helper and waits for the first poll to connect.
  [[nodiscard]] bool installHelper();
  // Stops the helper: every later request fails to reach it.
  void stopHelper();
  void finishLaunching() { launched_ = true; }

  [[nodiscard]] FanControlViewModel& model() const { return *vm_.viewModel; }
  [[nodiscard]] UserDefaults& defaults() { return vm_.defaults; }
  [[nodiscard]] AppUpdateManager& updates() const { return *updates_; }
  [[nodiscard]] QuitCoordinator& quit() { return quit_; }
  [[nodiscard]] std::unique_ptr<smc::EmulatedSmc> machine() const;
  [[nodiscard]] const QString& busAddress() const { return bus_.address(); }
  [[nodiscard]] const std::filesystem::path& directory() const { return dir_.path(); }

  // A call from another connection, answered while this thread's event loop turns.
  [[nodiscard]] QDBusMessage call(const QString& interface, const QString& method,
                                  const QVariantList& arguments = {},
                                  std::chrono::milliseconds timeout = std::chrono::seconds(60));
  [[nodiscard]] QDBusMessage intents(const QString& method, const QVariantList& arguments = {});
  [[nodiscard]] QDBusMessage activateAction(const QString& name,
                                            const QVariantList& parameter = {});
  [[nodiscard]] QVariant property(const QString& name);
  [[nodiscard]] QDBusConnection caller() const { return caller_; }
  [[nodiscard]] const Automation& automation() const { return *automation_; }

 private:
  TempDir dir_;
  DevelopmentLayout layout_;
  std::shared_ptr<CommandRunner> runner_;
  DevelopmentServiceManager services_;
  ViewModelOnSocket vm_;
  PrivateBus bus_;
  QDBusConnection caller_;
  SingleInstance instance_;
  LocalizationManager localization_;
  std::unique_ptr<AppUpdateManager> updates_;
  QuitCoordinator quit_;
  bool launched_ = false;
  std::unique_ptr<Automation> automation_;
};

}  // namespace zephro::testing
