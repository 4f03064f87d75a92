#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <memory>

#include "app/core/Detach.h"
#include "app/presets/CurveStore.h"
#include "app/presets/Preset.h"
#include "app/presets/PresetStore.h"
#include "app/services/AppUpdateManager.h"
#include "app/ui/popover/PopoverSettings.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/ScriptedHelper.h"

namespace zephro::testing {

// The popover's world, fresh for each test or picture; the scripted helper's fans follow its modes.
class PopoverFixture : public QObject {
  Q_OBJECT
  QML_ELEMENT

  Q_PROPERTY(zephro::FanControlViewModel* viewModel READ viewModel CONSTANT)
  Q_PROPERTY(zephro::PopoverSettings* settings READ settings CONSTANT)
  Q_PROPERTY(zephro::AppUpdateManager* updateManager READ updateManager CONSTANT)
  // The last mode change received: its mode's raw value (-1 before any), then its percentages.
  Q_PROPERTY(int setModeCount READ setModeCount NOTIFY helperCalled)
  Q_PROPERTY(QVariantList lastChange READ lastChange NOTIFY helperCalled)

 public:
  explicit PopoverFixture(QObject* parent = nullptr);
  // A poll still on its way ends quietly once its view model is gone.
  ~PopoverFixture() override { vm_.viewModel->stopRefreshing(); }

  [[nodiscard]] FanControlViewModel* viewModel() const { return vm_.viewModel.get(); }
  [[nodiscard]] PopoverSettings* settings() const { return settings_.get(); }
  [[nodiscard]] AppUpdateManager* updateManager() const { return updates_.get(); }
  [[nodiscard]] UserDefaults& defaults() { return vm_.defaults; }
  [[nodiscard]] int setModeCount() const {
    return static_cast<int>(helper_.recordedSetModeCalls().size());
  }
  [[nodiscard]] QVariantList lastChange() const;

  // From now on `count` fans in system mode at `rpm`, with a range of minRPM to maxRPM.
  Q_INVOKABLE void serveFans(int count, double rpm = 2400, double minRPM = 1200,
                             double maxRPM = 6000);
  Q_INVOKABLE void poll() { detach(vm_.viewModel->refresh(), "Fixture poll"); }
  // The helper stops answering with fans: polls fail from now on.
  Q_INVOKABLE void breakHelper();
  // The helper refuses every change from now on, for a ConnectionState::Refusal.
  Q_INVOKABLE void refuseChanges(int refusal);
  // What the launch check reports when the helper waits for the user's approval.
  Q_INVOKABLE void requireApproval() { vm_.viewModel->showNeedsApproval(); }
  Q_INVOKABLE QString addPreset(const QString& name, int percentage,
                                const QString& symbol = QString()) {
    return add({QUuid::createUuid(), name, PresetMode::percentage, percentage,
                symbol.isEmpty() ? std::nullopt : std::optional(symbol)});
  }
  Q_INVOKABLE QString addRPMPreset(const QString& name, int rpm) {
    return add({QUuid::createUuid(), name, PresetMode::rpm, rpm, std::nullopt});
  }
  // A curve on the points new curves start from.
  Q_INVOKABLE QString addCurve(const QString& name, const QString& symbol = QString()) {
    const FanCurve curve{QUuid::createUuid(), name,
                         symbol.isEmpty() ? std::nullopt : std::optional(symbol),
                         defaultCurvePoints()};
    vm_.viewModel->curveStore().add(curve);
    return curve.idText();
  }
  Q_INVOKABLE void deletePreset(const QString& id) {
    if (const auto uuid = uuidFromText(id)) vm_.viewModel->presetStore().deletePreset(*uuid);
  }

 signals:
  void helperCalled();

 private:
  QString add(const Preset& preset) {
    vm_.viewModel->presetStore().add(preset);
    return preset.idText();
  }

  std::shared_ptr<FakeServiceManager> services_ = std::make_shared<FakeServiceManager>();
  ViewModelOnSocket vm_{services_};
  ScriptedHelper helper_;
  InProcessHelperServer server_{vm_.socket, helper_};
  std::unique_ptr<PopoverSettings> settings_;
  std::unique_ptr<AppUpdateManager> updates_;
};

}  // namespace zephro::testing
