#include "tests/app/ui/popover/PopoverFixture.h"

#include <QMetaObject>
#include <QPointer>
#include <QUuid>
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/presets/Preset.h"
#include "app/presets/PresetStore.h"
#include "app/services/AppUpdateManager.h"
#include "app/ui/LocalizationManager.h"
#include "app/ui/popover/PopoverSettings.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "app/viewmodel/WakeSource.h"
#include "platform/defaults/UserDefaults.h"
#include "protocol/HelperProtocol.h"
#include "protocol/remote/InProcessHelperServer.h"
#include "tests/app/services/QuietUpdater.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {
namespace {

// A helper that answers like a machine: its fans take the speed of every mode change, and
// each change is counted.
class MachineHelper final : public HelperProtocol {
 public:
  struct Change {
    std::int64_t mode = -1;
    std::vector<std::int64_t> percentages;
  };

  explicit MachineHelper(std::function<void()> changed) : changed_(std::move(changed)) {}

  void serve(std::vector<FanInfoDTO> fans) {
    const std::lock_guard lock(mutex_);
    fans_ = std::move(fans);
    broken_ = false;
  }
  void breakDown() {
    const std::lock_guard lock(mutex_);
    broken_ = true;
  }
  void refuseChanges(Error refusal) {
    const std::lock_guard lock(mutex_);
    refusal_ = std::move(refusal);
  }
  [[nodiscard]] int changeCount() const {
    const std::lock_guard lock(mutex_);
    return count_;
  }
  [[nodiscard]] Change lastChange() const {
    const std::lock_guard lock(mutex_);
    return last_;
  }

  void getFanInfo(FanInfoReply reply) override {
    const std::lock_guard lock(mutex_);
    if (broken_) {
      reply({}, Error::withDescription("SMCErrorDomain", 1, "The fan table could not be read."));
      return;
    }
    reply(fans_, std::nullopt);
  }
  void getSystemTemperature(TemperatureReply reply) override { reply(47.5, std::nullopt); }
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    {
      const std::lock_guard lock(mutex_);
      if (refusal_) {
        reply(refusal_);
        return;
      }
      ++count_;
      last_ = {mode, percentages};
      for (std::size_t i = 0; i < fans_.size(); ++i) {
        const FanInfoDTO& fan = fans_[i];
        double rpm = fan.currentRPM();
        if (mode == rawValue(FanMode::max)) rpm = fan.maxRPM();
        if (mode == rawValue(FanMode::manual) && i < percentages.size()) {
          rpm = fan.minRPM() +
                (fan.maxRPM() - fan.minRPM()) * static_cast<double>(percentages[i]) / 100.0;
        }
        fans_[i] = FanInfoDTO(fan.index(), rpm, fan.minRPM(), fan.maxRPM(),
                              mode == rawValue(FanMode::system) ? FanMode::system
                              : mode == rawValue(FanMode::max)  ? FanMode::max
                                                                : FanMode::manual);
      }
    }
    reply(std::nullopt);
    changed_();
  }
  void getVersion(VersionReply reply) override { reply(kHelperProtocolVersion); }

 private:
  const std::function<void()> changed_;
  mutable std::mutex mutex_;
  std::vector<FanInfoDTO> fans_;
  bool broken_ = false;
  std::optional<Error> refusal_;
  int count_ = 0;
  Change last_;
};

}  // namespace

struct PopoverFixture::Parts {
  explicit Parts(PopoverFixture& owner)
      : socket((dir / "helper.sock").string()),
        defaults(QString::fromStdString((dir / "settings.json").string())),
        helper([watched = QPointer<PopoverFixture>(&owner)] {
          // Mode changes are answered on the server's thread; tell QML on the main one.
          QMetaObject::invokeMethod(
              watched.data(),
              [watched] {
                if (watched) emit watched->helperCalled();
              },
              Qt::QueuedConnection);
        }),
        server(socket, helper) {
    HelperClientOptions clientOptions;
    clientOptions.connectionFactory = HelperClientOptions::connectingTo(socket);
    clientOptions.serviceManager = std::shared_ptr<ServiceManager>(&services, [](auto*) {});
    clientOptions.settleInterval = std::chrono::milliseconds(1);
    client = std::make_unique<HelperClient>(std::move(clientOptions));
    FanControlViewModelOptions options;
    options.pollInterval = std::chrono::milliseconds(20);
    options.installPollInterval = std::chrono::milliseconds(20);
    viewModel = std::make_unique<FanControlViewModel>(*client, defaults, services,
                                                      std::make_unique<WakeSource>(), options);
    settings = std::make_unique<PopoverSettings>(defaults, services);
    updates = std::make_unique<AppUpdateManager>(
        [](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate&) {
          return std::make_unique<QuietUpdater>(std::move(driver));
        },
        LocalizationManager::shared(), [](const QUrl&) {});
  }

  TempDir dir;
  std::string socket;
  UserDefaults defaults;
  FakeServiceManager services;
  MachineHelper helper;
  InProcessHelperServer server;
  std::unique_ptr<HelperClient> client;
  std::unique_ptr<FanControlViewModel> viewModel;
  std::unique_ptr<PopoverSettings> settings;
  std::unique_ptr<AppUpdateManager> updates;
};

PopoverFixture::PopoverFixture(QObject* parent)
    : QObject(parent), parts_(std::make_unique<Parts>(*this)) {}

PopoverFixture::~PopoverFixture() {
  // A poll still on its way ends quietly once its view model is gone.
  parts_->viewModel->stopRefreshing();
}

FanControlViewModel* PopoverFixture::viewModel() const {
  return parts_->viewModel.get();
}
PopoverSettings* PopoverFixture::settings() const {
  return parts_->settings.get();
}
AppUpdateManager* PopoverFixture::updateManager() const {
  return parts_->updates.get();
}

UserDefaults& PopoverFixture::defaults() const {
  return parts_->defaults;
}
int PopoverFixture::setModeCount() const {
  return parts_->helper.changeCount();
}
int PopoverFixture::lastMode() const {
  return static_cast<int>(parts_->helper.lastChange().mode);
}
QVariantList PopoverFixture::lastPercentages() const {
  QVariantList percentages;
  for (const auto value : parts_->helper.lastChange().percentages) {
    percentages.append(static_cast<int>(value));
  }
  return percentages;
}

void PopoverFixture::serveFans(int count, double rpm, double minRPM, double maxRPM) {
  std::vector<FanInfoDTO> fans;
  for (int i = 0; i < count; ++i) fans.emplace_back(i, rpm, minRPM, maxRPM, FanMode::system);
  parts_->helper.serve(std::move(fans));
}

void PopoverFixture::poll() {
  detach(parts_->viewModel->refresh(), "Fixture poll");
}

void PopoverFixture::breakHelper() {
  parts_->helper.breakDown();
}

void PopoverFixture::refuseChanges(int refusal) {
  const bool notAuthorized = refusal == static_cast<int>(ConnectionState::Refusal::notAuthorized);
  parts_->helper.refuseChanges(
      notAuthorized ? Error::withDescription(kHelperErrorDomain, kHelperNotAuthorized,
                                             "Not authorized to change the fans.")
                    : Error::withDescription(kSMCErrorDomainName, kReadOnlyFanStatus,
                                             "Failed to take fan 0 over from the firmware"));
}

void PopoverFixture::requireApproval() {
  parts_->viewModel->showNeedsApproval();
}

QString PopoverFixture::addPreset(const QString& name, int percentage, const QString& symbol) {
  Preset preset{QUuid::createUuid(), name, PresetMode::percentage, percentage,
                symbol.isEmpty() ? std::nullopt : std::optional<QString>(symbol)};
  parts_->viewModel->presetStore().add(preset);
  return preset.idText();
}

QString PopoverFixture::addRPMPreset(const QString& name, int rpm) {
  const Preset preset{QUuid::createUuid(), name, PresetMode::rpm, rpm, std::nullopt};
  parts_->viewModel->presetStore().add(preset);
  return preset.idText();
}

void PopoverFixture::deletePreset(const QString& id) {
  if (const auto uuid = uuidFromText(id)) parts_->viewModel->presetStore().deletePreset(*uuid);
}

bool PopoverFixture::loginItemEnabled() const {
  return parts_->services.mainAppService().status() == static_cast<int>(ServiceStatus::enabled);
}

}  // namespace zephro::testing
