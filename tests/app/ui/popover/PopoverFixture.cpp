#include "tests/app/ui/popover/PopoverFixture.h"

#include <QMetaObject>
#include <QPointer>
#include <QUuid>
#include <vector>

#include "app/core/Detach.h"
#include "app/presets/Preset.h"
#include "app/presets/PresetStore.h"
#include "app/ui/LocalizationManager.h"
#include "tests/app/services/QuietUpdater.h"

namespace zephro::testing {
namespace {

ScriptedHelper::SetModeCall lastChange(const ScriptedHelper& helper) {
  const auto calls = helper.recordedSetModeCalls();
  return calls.empty() ? ScriptedHelper::SetModeCall{} : calls.back();
}

}  // namespace

PopoverFixture::PopoverFixture(QObject* parent)
    : QObject(parent),
      settings_(std::make_unique<PopoverSettings>(vm_.defaults, services_)),
      updates_(std::make_unique<AppUpdateManager>(
          [](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate&) {
            return std::make_unique<QuietUpdater>(std::move(driver));
          },
          LocalizationManager::shared(), [](const QUrl&) {})) {
  helper_.celsius = 47.5;
  helper_.followModeChanges = true;
  helper_.onModeChange = [watched = QPointer<PopoverFixture>(this)] {
    // Mode changes are answered on the server's thread; tell QML on the main one.
    QMetaObject::invokeMethod(
        watched.data(),
        [watched] {
          if (watched) emit watched->helperCalled();
        },
        Qt::QueuedConnection);
  };
}

int PopoverFixture::setModeCount() const {
  return static_cast<int>(helper_.recordedSetModeCalls().size());
}
int PopoverFixture::lastMode() const {
  return static_cast<int>(lastChange(helper_).mode);
}
QVariantList PopoverFixture::lastPercentages() const {
  QVariantList percentages;
  for (const auto value : lastChange(helper_).percentages) {
    percentages.append(static_cast<int>(value));
  }
  return percentages;
}

void PopoverFixture::serveFans(int count, double rpm, double minRPM, double maxRPM) {
  std::vector<FanInfoDTO> fans;
  for (int i = 0; i < count; ++i) fans.emplace_back(i, rpm, minRPM, maxRPM, FanMode::system);
  helper_.update([&](ScriptedHelper& helper) {
    helper.fans = std::move(fans);
    helper.fanError.reset();
  });
}

void PopoverFixture::poll() {
  detach(vm_.viewModel->refresh(), "Fixture poll");
}

void PopoverFixture::breakHelper() {
  helper_.update([](ScriptedHelper& helper) {
    helper.fanError =
        Error::withDescription("SMCErrorDomain", 1, "The fan table could not be read.");
  });
}

void PopoverFixture::refuseChanges(int refusal) {
  const bool notAuthorized = refusal == static_cast<int>(ConnectionState::Refusal::notAuthorized);
  helper_.update([&](ScriptedHelper& helper) {
    helper.setModeError =
        notAuthorized ? Error::withDescription(kHelperErrorDomain, kHelperNotAuthorized,
                                               "Not authorized to change the fans.")
                      : Error::withDescription(kSMCErrorDomainName, kReadOnlyFanStatus,
                                               "Failed to take fan 0 over from the firmware");
  });
}

QString PopoverFixture::addPreset(const QString& name, int percentage, const QString& symbol) {
  const Preset preset{QUuid::createUuid(), name, PresetMode::percentage, percentage,
                      symbol.isEmpty() ? std::nullopt : std::optional<QString>(symbol)};
  vm_.viewModel->presetStore().add(preset);
  return preset.idText();
}

QString PopoverFixture::addRPMPreset(const QString& name, int rpm) {
  const Preset preset{QUuid::createUuid(), name, PresetMode::rpm, rpm, std::nullopt};
  vm_.viewModel->presetStore().add(preset);
  return preset.idText();
}

void PopoverFixture::deletePreset(const QString& id) {
  if (const auto uuid = uuidFromText(id)) vm_.viewModel->presetStore().deletePreset(*uuid);
}

}  // namespace zephro::testing
