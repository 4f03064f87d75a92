#include "app/intents/FanIntents.h"

#include <QCoro/QCoroTimer>
#include <QDeadlineTimer>
#include <QPointer>
#include <QUuid>
#include <exception>

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/intents/ZephroIntentError.h"
#include "app/ui/LocalizationManager.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

namespace zephro {
namespace {

// The helper's errors reach the person as "the helper cannot be reached"; the log keeps
// what really happened.
[[noreturn]] void failFanAction(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const ZephroIntentError&) {
    throw;
  } catch (...) {
    log::write("[Zephro] Intent fan action failed: " + describeException(error));
    throw ZephroIntentError::helperUnreachable();
  }
}

// A view-model operation whose failure is the action's: a plain function, so that the
// operation lives in its frame.
QCoro::Task<> asFanAction(QCoro::Task<> operation) {
  try {
    co_await operation;
  } catch (...) {
    failFanAction(std::current_exception());
  }
}

}  // namespace

FanIntents::FanIntents(ApplicationLookup application, HelperClient& client, UserDefaults& defaults,
                       LocalizationManager& localization, FanIntentsOptions options,
                       QObject* parent)
    : QObject(parent),
      application_(std::move(application)),
      client_(client),
      defaults_(defaults),
      localization_(localization),
      options_(options) {}

QCoro::Task<FanControlViewModel*> FanIntents::waitForApplication() {
  if (auto* viewModel = application_()) co_return viewModel;
  const QPointer self(this);
  const QDeadlineTimer deadline(options_.launchTimeout);
  const auto interval = options_.launchPollInterval;
  for (;;) {
    co_await QCoro::sleepFor(interval);
    if (!self) throw ZephroIntentError::appNotReady();
    if (auto* viewModel = application_()) co_return viewModel;
    if (deadline.hasExpired()) throw ZephroIntentError::appNotReady();
  }
}

QCoro::Task<QString> FanIntents::setFanMode(FanModeEntity mode) {
  auto waiting = waitForApplication();
  FanControlViewModel* const viewModel = co_await waiting;
  const QPointer self(this);
  auto changing = asFanAction(changeMode(*viewModel, mode));
  co_await changing;
  if (!self) co_return QString();
  co_return localization_.format(QStringLiteral("intent_dialog_set_mode"), {mode.name});
}

QCoro::Task<> FanIntents::changeMode(FanControlViewModel& viewModel, const FanModeEntity& mode) {
  if (mode.id == QLatin1String("system")) {
    co_await viewModel.setSystemMode();
    co_return;
  }
  if (mode.id == QLatin1String("max")) {
    co_await viewModel.setMaxMode();
    co_return;
  }
  const QUuid id = QUuid::fromString(mode.id);
  if (id.isNull()) throw ZephroIntentError::presetNotFound(mode.name);
  const auto& presets = viewModel.presetStore().presets();
  const auto preset = std::find_if(presets.begin(), presets.end(),
                                   [&](const Preset& candidate) { return candidate.id == id; });
  if (preset != presets.end()) {
    auto applying = viewModel.applyPreset(*preset);
    co_await applying;
    co_return;
  }
  auto curve = viewModel.curveStore().curve(id);
  if (!curve) throw ZephroIntentError::presetNotFound(mode.name);
  auto following = viewModel.applyCurve(std::move(*curve));
  co_await following;
}

QCoro::Task<FanIntents::StatusAnswer> FanIntents::getFanStatus() {
  auto waiting = waitForApplication();
  co_await waiting;
  const QPointer self(this);
  // Both questions go out before either answer is awaited.
  auto fans = client_.fetchFanInfo();
  auto temperature = client_.fetchSystemTemperature();
  std::vector<FanInfoDTO> fanList;
  double celsius = 0;
  std::exception_ptr failure;
  try {
    fanList = co_await fans;
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    celsius = co_await temperature;
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) {
    log::write("[Zephro] Get Fan Status failed: " + describeException(failure));
    throw ZephroIntentError::helperUnreachable();
  }
  if (!self) co_return StatusAnswer{};
  const bool fahrenheit = defaults_.value(defaults::useFahrenheit);
  StatusAnswer answer{FanStatusEntity::reading(fanList, celsius, fahrenheit), {}};
  answer.dialog = localization_.format(QStringLiteral("intent_dialog_status"),
                                       {answer.status.rpm, answer.status.temperatureText()});
  co_return answer;
}

QCoro::Task<QString> FanIntents::increaseFanSpeed(int amount) {
  auto adjusting = adjust(amount, "intent_dialog_increase", amount);
  co_return co_await adjusting;
}

QCoro::Task<QString> FanIntents::decreaseFanSpeed(int amount) {
  auto adjusting = adjust(-amount, "intent_dialog_decrease", amount);
  co_return co_await adjusting;
}

QCoro::Task<QString> FanIntents::adjust(int step, const char* dialogKey, int amount) {
  auto waiting = waitForApplication();
  FanControlViewModel* const viewModel = co_await waiting;
  const QPointer self(this);
  auto adjusting = asFanAction(viewModel->adjustAllFans(step));
  co_await adjusting;
  if (!self) co_return QString();
  co_return localization_.format(QString::fromLatin1(dialogKey), {amount});
}

}  // namespace zephro
