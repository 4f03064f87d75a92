#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>

#include "app/intents/FanModeEntity.h"
#include "app/intents/FanStatusEntity.h"

namespace zephro {

class FanControlViewModel;
class HelperClient;
class LocalizationManager;
class UserDefaults;

struct FanIntentsOptions {
  // How long an action waits for the application to finish launching, and how often it
  // looks meanwhile.
  std::chrono::milliseconds launchTimeout{8000};
  std::chrono::milliseconds launchPollInterval{100};
};

// The four automation actions: set a mode, read the status, step the speed up or down.
// Each waits for the application to finish launching, acts through the popover's view
// model (the status asks the helper itself) and answers with a dialog in the interface
// language, or throws ZephroIntentError. Main thread only.
class FanIntents : public QObject {
  Q_OBJECT

 public:
  // The launched application's view model; null until launching has finished.
  using ApplicationLookup = std::function<FanControlViewModel*()>;

  struct StatusAnswer {
    FanStatusEntity status;
    QString dialog;
  };

  // The step actions take whole percents in this range.
  static constexpr int kMinimumAmount = 1;
  static constexpr int kMaximumAmount = 75;
  static constexpr int kDefaultAmount = 10;

  FanIntents(ApplicationLookup application, HelperClient& client, UserDefaults& defaults,
             LocalizationManager& localization, FanIntentsOptions options = {},
             QObject* parent = nullptr);

  [[nodiscard]] QCoro::Task<QString> setFanMode(FanModeEntity mode);
  [[nodiscard]] QCoro::Task<StatusAnswer> getFanStatus();
  [[nodiscard]] QCoro::Task<QString> increaseFanSpeed(int amount);
  [[nodiscard]] QCoro::Task<QString> decreaseFanSpeed(int amount);

  // The launched application's view model, once there is one; throws appNotReady when
  // launching has not finished in time.
  [[nodiscard]] QCoro::Task<FanControlViewModel*> waitForApplication();

  [[nodiscard]] LocalizationManager& localization() const { return localization_; }

 private:
  [[nodiscard]] QCoro::Task<> changeMode(FanControlViewModel& viewModel, const FanModeEntity& mode);
  [[nodiscard]] QCoro::Task<QString> adjust(int step, const char* dialogKey, int amount);

  ApplicationLookup application_;
  HelperClient& client_;
  UserDefaults& defaults_;
  LocalizationManager& localization_;
  const FanIntentsOptions options_;
};

}  // namespace zephro
