#pragma once

#include <memory>

#include "app/intents/FanIntents.h"
#include "app/intents/IntentsAdaptor.h"
#include "app/intents/IntentsService.h"
#include "app/shell/ApplicationActions.h"

namespace zephro {

class AppUpdateManager;
class HelperClient;
class LocalizationManager;
class CurveStore;
class PresetStore;
class QuitCoordinator;
class SingleInstance;
class UserDefaults;

// Automation on the application's bus object: com.zephro.Intents1 and the actions of
// org.freedesktop.Application, answered through the view model of the application that
// has finished launching.
class Automation {
 public:
  struct Parts {
    FanIntents::ApplicationLookup application;
    HelperClient& client;
    UserDefaults& defaults;
    PresetStore& presets;
    CurveStore& curves;
    AppUpdateManager& updates;
    QuitCoordinator& quit;
    LocalizationManager& localization;
  };

  Automation(SingleInstance& instance, Parts parts, FanIntentsOptions options = {});
  ~Automation();
  Automation(const Automation&) = delete;
  Automation& operator=(const Automation&) = delete;

  [[nodiscard]] IntentsService& service() { return service_; }
  [[nodiscard]] const ApplicationActions& actions() const { return actions_; }
  // For the windows' actions, added once the windows' owner exists.
  [[nodiscard]] ApplicationActions& actions() { return actions_; }

 private:
  SingleInstance& instance_;
  FanIntents intents_;
  IntentsService service_;
  // A child of the application's object, as D-Bus adaptors are, but gone before what it uses.
  std::unique_ptr<IntentsAdaptor> adaptor_;
  ApplicationActions actions_;
};

}  // namespace zephro
