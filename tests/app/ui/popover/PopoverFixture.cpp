#include "tests/app/ui/popover/PopoverFixture.h"

#include <QMetaObject>
#include <vector>

#include "app/ui/LocalizationManager.h"
#include "tests/app/services/QuietUpdater.h"

namespace zephro::testing {
PopoverFixture::PopoverFixture(QObject* parent)
    : QObject(parent),
      settings_(std::make_unique<PopoverSettings>(vm_.defaults, *services_)),
      updates_(std::make_unique<AppUpdateManager>(
          [](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate&) {
            return std::make_unique<QuietUpdater>(std::move(driver));
          },
          LocalizationManager::shared(), [](const QUrl&) {})) {
  helper_.celsius = 47.5;
  helper_.followModeChanges = true;
  // Answered on the server's thread (stopped before this object goes); tell QML on the main one.
  helper_.onModeChange = [this] {
    QMetaObject::invokeMethod(this, &PopoverFixture::helperCalled, Qt::QueuedConnection);
  };
}

QVariantList PopoverFixture::lastChange() const {
  const auto calls = helper_.recordedSetModeCalls();
  const auto last = calls.empty() ? ScriptedHelper::SetModeCall{} : calls.back();
  QVariantList change{static_cast<int>(last.mode)};
  for (const auto value : last.percentages) change.append(static_cast<int>(value));
  return change;
}

void PopoverFixture::serveFans(int count, double rpm, double minRPM, double maxRPM) {
  std::vector<FanInfoDTO> fans;
  for (int i = 0; i < count; ++i) fans.emplace_back(i, rpm, minRPM, maxRPM, FanMode::system);
  helper_.update([&](ScriptedHelper& helper) {
    helper.fans = std::move(fans);
    helper.fanError.reset();
  });
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

}  // namespace zephro::testing
