#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <memory>

#include "app/services/AppUpdateManager.h"
#include "app/ui/popover/PopoverSettings.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/ScriptedHelper.h"

namespace zephro::testing {

// Everything the popover is built over, made fresh for each test or picture: a real view
// model and helper client talking over a temp socket to an in-process helper whose fans
// this fixture scripts, settings in a temp file, a scripted service manager and an update
// manager over an updater that finds nothing. The helper behaves like a machine: a mode
// change moves its fans, and the next poll reports that.
class PopoverFixture : public QObject {
  Q_OBJECT
  QML_ELEMENT

  Q_PROPERTY(zephro::FanControlViewModel* viewModel READ viewModel CONSTANT)
  Q_PROPERTY(zephro::PopoverSettings* settings READ settings CONSTANT)
  Q_PROPERTY(zephro::AppUpdateManager* updateManager READ updateManager CONSTANT)
  // The mode changes the helper has received: how many, and the last one's mode raw value
  // (-1 before the first) and percentages.
  Q_PROPERTY(int setModeCount READ setModeCount NOTIFY helperCalled)
  Q_PROPERTY(int lastMode READ lastMode NOTIFY helperCalled)
  Q_PROPERTY(QVariantList lastPercentages READ lastPercentages NOTIFY helperCalled)

 public:
  explicit PopoverFixture(QObject* parent = nullptr);
  // A poll still on its way ends quietly once its view model is gone.
  ~PopoverFixture() override { vm_.viewModel->stopRefreshing(); }

  [[nodiscard]] FanControlViewModel* viewModel() const { return vm_.viewModel.get(); }
  [[nodiscard]] PopoverSettings* settings() const { return settings_.get(); }
  [[nodiscard]] AppUpdateManager* updateManager() const { return updates_.get(); }
  [[nodiscard]] UserDefaults& defaults() { return vm_.defaults; }
  [[nodiscard]] int setModeCount() const;
  [[nodiscard]] int lastMode() const;
  [[nodiscard]] QVariantList lastPercentages() const;

  // The helper's fans from now on: `count` fans with a range of minRPM to maxRPM, in
  // system mode at the given speed.
  Q_INVOKABLE void serveFans(int count, double rpm = 2400, double minRPM = 1200,
                             double maxRPM = 6000);
  // One poll; the view model shows the result once it arrives.
  Q_INVOKABLE void poll();
  // The helper stops answering with fans: polls fail from now on.
  Q_INVOKABLE void breakHelper();
  // The helper refuses every change from now on, for a ConnectionState::Refusal: to a user
  // who may not make one, or on a machine whose fan driver only reads.
  Q_INVOKABLE void refuseChanges(int refusal);
  // What the launch check reports when the helper waits for the user's approval.
  Q_INVOKABLE void requireApproval() { vm_.viewModel->showNeedsApproval(); }
  // Adds a preset of one percentage for all fans; returns its id.
  Q_INVOKABLE QString addPreset(const QString& name, int percentage,
                                const QString& symbol = QString());
  // Adds a preset of one speed for all fans; returns its id.
  Q_INVOKABLE QString addRPMPreset(const QString& name, int rpm);
  Q_INVOKABLE void deletePreset(const QString& id);

 signals:
  void helperCalled();

 private:
  FakeServiceManager services_;
  ViewModelOnSocket vm_{services_};
  ScriptedHelper helper_;
  InProcessHelperServer server_{vm_.socket, helper_};
  std::unique_ptr<PopoverSettings> settings_;
  std::unique_ptr<AppUpdateManager> updates_;
};

}  // namespace zephro::testing
