#include "tests/app/ui/popover/PopoverFixture.h"

#include <QMetaObject>
#include <QPointer>
#include <QUuid>
#include <vector>

#include "app/core/Detach.h"
#include "app/presets/Preset.h"
#include "app/presets/PresetStore.h"
#include "app/services/AppUpdateManager.h"
#include "app/ui/LocalizationManager.h"
#include "app/ui/popover/PopoverSettings.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/services/QuietUpdater.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/ScriptedHelper.h"

namespace zephro::testing {

struct PopoverFixture::Parts {
  explicit Parts(PopoverFixture& owner) : server(vm.socket, helper) {
    helper.celsius = 47.5;
    helper.followModeChanges = true;
    helper.onModeChange = [watched = QPointer<PopoverFixture>(&owner)] {
      // Mode changes are answered on the server's thread; tell QML on the main one.
      QMetaObject::invokeMethod(
          watched.data(),
          [watched] {
            if (watched) emit watched->helperCalled();
          },
          Qt::QueuedConnection);
    };
    settings = std::make_unique<PopoverSettings>(vm.defaults, services);
    updates = std::make_unique<AppUpdateManager>(
        [](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate&) {
          return std::make_unique<QuietUpdater>(std::move(driver));
        },
        LocalizationManager::shared(), [](const QUrl&) {});
  }

  FakeServiceManager services;
  ViewModelOnSocket vm{services};
  ScriptedHelper helper;
  InProcessHelperServer server;
  std::unique_ptr<PopoverSettings> settings;
  std::unique_ptr<AppUpdateManager> updates;
};

PopoverFixture::PopoverFixture(QObject* parent)
    : QObject(parent), parts_(std::make_unique<Parts>(*this)) {}

PopoverFixture::~PopoverFixture() {
  // A poll still on its way ends quietly once its view model is gone.
  parts_->vm.viewModel->stopRefreshing();
}

FanControlViewModel* PopoverFixture::viewModel() const {
  return parts_->vm.viewModel.get();
}
PopoverSettings* PopoverFixture::settings() const {
  return parts_->settings.get();
}
AppUpdateManager* PopoverFixture::updateManager() const {
  return parts_->updates.get();
}

UserDefaults& PopoverFixture::defaults() const {
  return parts_->vm.defaults;
}
int PopoverFixture::setModeCount() const {
  return static_cast<int>(parts_->helper.recordedSetModeCalls().size());
}
static ScriptedHelper::SetModeCall lastChange(const ScriptedHelper& helper) {
  const auto calls = helper.recordedSetModeCalls();
  return calls.empty() ? ScriptedHelper::SetModeCall{} : calls.back();
}
int PopoverFixture::lastMode() const {
  return static_cast<int>(lastChange(parts_->helper).mode);
}
QVariantList PopoverFixture::lastPercentages() const {
  QVariantList percentages;
  for (const auto value : lastChange(parts_->helper).percentages) {
    percentages.append(static_cast<int>(value));
  }
  return percentages;
}

void PopoverFixture::serveFans(int count, double rpm, double minRPM, double maxRPM) {
  std::vector<FanInfoDTO> fans;
  fans.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) fans.emplace_back(i, rpm, minRPM, maxRPM, FanMode::system);
  parts_->helper.update([&](ScriptedHelper& helper) {
    helper.fans = std::move(fans);
    helper.fanError.reset();
  });
}

void PopoverFixture::poll() {
  detach(parts_->vm.viewModel->refresh(), "Fixture poll");
}

void PopoverFixture::breakHelper() {
  parts_->helper.update([](ScriptedHelper& helper) {
    helper.fanError =
        Error::withDescription("SMCErrorDomain", 1, "The fan table could not be read.");
  });
}

void PopoverFixture::refuseChanges(int refusal) {
  const bool notAuthorized = refusal == static_cast<int>(ConnectionState::Refusal::notAuthorized);
  parts_->helper.update([&](ScriptedHelper& helper) {
    helper.setModeError =
        notAuthorized ? Error::withDescription(kHelperErrorDomain, kHelperNotAuthorized,
                                               "Not authorized to change the fans.")
                      : Error::withDescription(kSMCErrorDomainName, kReadOnlyFanStatus,
                                               "Failed to take fan 0 over from the firmware");
  });
}

void PopoverFixture::requireApproval() {
  parts_->vm.viewModel->showNeedsApproval();
}

QString PopoverFixture::addPreset(const QString& name, int percentage, const QString& symbol) {
  Preset preset{QUuid::createUuid(), name, PresetMode::percentage, percentage,
                symbol.isEmpty() ? std::nullopt : std::optional<QString>(symbol)};
  parts_->vm.viewModel->presetStore().add(preset);
  return preset.idText();
}

QString PopoverFixture::addRPMPreset(const QString& name, int rpm) {
  const Preset preset{QUuid::createUuid(), name, PresetMode::rpm, rpm, std::nullopt};
  parts_->vm.viewModel->presetStore().add(preset);
  return preset.idText();
}

void PopoverFixture::deletePreset(const QString& id) {
  if (const auto uuid = uuidFromText(id)) parts_->vm.viewModel->presetStore().deletePreset(*uuid);
}

}  // namespace zephro::testing
