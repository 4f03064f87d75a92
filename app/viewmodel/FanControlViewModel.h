#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include <QtQml/qqmlregistration.h>
#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QUuid>

#include "app/presets/CurveStore.h"
#include "app/presets/Preset.h"
#include "app/presets/PresetStore.h"
#include "app/viewmodel/ConnectionState.h"
#include "app/viewmodel/CurveFollower.h"
#include "app/viewmodel/FanRecord.h"
#include "app/viewmodel/RefreshTask.h"
#include "app/viewmodel/WakeSource.h"
#include "protocol/FanInfoDTO.h"
#include "protocol/FanMode.h"

namespace zephro {

class HelperClient;
class ServiceManager;
class UserDefaults;

struct FanControlViewModelOptions {
  // The poll loop's sleep between two polls.
  std::chrono::milliseconds pollInterval{2000};
  // After installing the helper: the sleep between readiness polls, and how many
  // polls are made at most.
  std::chrono::milliseconds installPollInterval{400};
  int installPollAttempts = 5;
};

// The application's single source of truth about the fans. It polls the helper for
// the fan table and the temperature, publishes what it learns, and turns every
// request (a mode, a slider, a preset, a step) into one mode change sent to the
// helper. Lives on the main thread; every operation runs there, and none blocks it.
//
// The operations are tasks. Those that throw hand their error to the caller as well
// as showing it in connectionState; those that do not only show it. A view model
// destroyed while an operation is under way ends that operation quietly.
class FanControlViewModel : public QObject {
  Q_OBJECT
  QML_ELEMENT
  QML_UNCREATABLE("The application makes the one view model.")

  /// The last fan list from the helper, in the helper's order.
  Q_PROPERTY(QList<zephro::FanRecord> fans READ fanRecords NOTIFY fansChanged)
  /// The manual-mode target of each fan in percent, in the order of fans.
  Q_PROPERTY(QList<int> sliderPercentages READ sliderPercentages NOTIFY sliderPercentagesChanged)
  /// The mode the application believes is in force.
  Q_PROPERTY(Mode activeMode READ qmlActiveMode NOTIFY activeModeChanged)
  /// The health of the link to the helper.
  Q_PROPERTY(
      zephro::ConnectionState connectionState READ connectionState NOTIFY connectionStateChanged)
  /// A mode change is in flight.
  Q_PROPERTY(bool isApplyingChange READ isApplyingChange NOTIFY isApplyingChangeChanged)
  /// The install or repair action runs.
  Q_PROPERTY(bool isInstallingHelper READ isInstallingHelper NOTIFY isInstallingHelperChanged)
  /// The last system temperature from the helper, degrees Celsius.
  Q_PROPERTY(double systemTemperature READ systemTemperature NOTIFY systemTemperatureChanged)
  /// The preset list and which preset is in force.
  Q_PROPERTY(zephro::PresetStore* presetStore READ presetStorePointer CONSTANT)
  /// The curve list and which curve the fans follow.
  Q_PROPERTY(zephro::CurveStore* curveStore READ curveStorePointer CONSTANT)
  /// The status item shows the fan speed or the temperature.
  Q_PROPERTY(bool isMenuBarTextVisible READ isMenuBarTextVisible NOTIFY isMenuBarTextVisibleChanged)
  /// The user reads temperatures in degrees Fahrenheit.
  Q_PROPERTY(bool useFahrenheit READ useFahrenheit NOTIFY useFahrenheitChanged)

 public:
  // FanMode for QML, with the same raw values. Int-sized: QML hands an enum argument over
  // as an int and would leave the upper half of a wider one unset.
  enum class Mode : int {
    System = rawValue(FanMode::system),
    Manual = rawValue(FanMode::manual),
    Max = rawValue(FanMode::max),
  };
  Q_ENUM(Mode)

  // Registers the "showIconInMenuBar" fallback, keeps the menu-bar icon visible and
  // starts listening for wake events. Polling starts with startRefreshing().
  FanControlViewModel(HelperClient& client, UserDefaults& defaults, ServiceManager& serviceManager,
                      std::unique_ptr<WakeSource> wakeSource,
                      FanControlViewModelOptions options = {}, QObject* parent = nullptr);
  ~FanControlViewModel() override;

  [[nodiscard]] const std::vector<FanInfoDTO>& fans() const { return fans_; }
  [[nodiscard]] QList<FanRecord> fanRecords() const;
  [[nodiscard]] const QList<int>& sliderPercentages() const { return sliderPercentages_; }
  [[nodiscard]] FanMode activeMode() const { return activeMode_; }
  [[nodiscard]] const ConnectionState& connectionState() const { return connectionState_; }
  [[nodiscard]] bool isApplyingChange() const { return changesInFlight_ > 0; }
  [[nodiscard]] bool isInstallingHelper() const { return isInstallingHelper_; }
  [[nodiscard]] double systemTemperature() const { return systemTemperature_; }
  [[nodiscard]] PresetStore& presetStore() { return *presetStore_; }
  [[nodiscard]] CurveStore& curveStore() { return *curveStore_; }
  [[nodiscard]] HelperClient& client() const { return client_; }

  // The launch check found the helper waiting for the user's approval.
  void showNeedsApproval();

  // Cancels the running poll loop, if any, and starts a new one.
  void startRefreshing();
  // Cancels the running poll loop, if any.
  void stopRefreshing();
  [[nodiscard]] bool isRefreshing() const { return refreshTask_ != nullptr; }

  // One poll of the fan table and the temperature. A poll that began before a change was
  // sent ends without effect, whatever it brought back: its answer predates the change.
  [[nodiscard]] QCoro::Task<> refresh();
  // Registers or repairs the helper, then polls until it answers (or needs approval).
  [[nodiscard]] QCoro::Task<> installHelper();

  // Commits one slider: manual mode with every slider. An index outside the fan list
  // does nothing.
  [[nodiscard]] QCoro::Task<> setPercentage(int fanIndex, int percentage);
  // Manual mode with the sliders as they are.
  [[nodiscard]] QCoro::Task<> setManualMode();
  // Hands the fans back to the firmware. Throws the helper's error.
  [[nodiscard]] QCoro::Task<> setSystemMode();
  // Every fan at its maximum, every slider at 100. Throws the helper's error.
  [[nodiscard]] QCoro::Task<> setMaxMode();
  // The preset's percentage of every fan in manual mode; marks the preset active.
  // Without fans nothing is sent. Throws the helper's error.
  [[nodiscard]] QCoro::Task<> applyPreset(Preset preset);
  // Every fan's current percentage moved by step, within 25 to 100, in manual mode.
  // Without fans nothing is sent. Throws the helper's error.
  [[nodiscard]] QCoro::Task<> adjustAllFans(int step);
  // Marks the curve active and makes the fans follow it, a step now and one every poll
  // interval, popover open or not, until any other change ends it; an edit of its points in
  // the curve store applies it again, a deletion hands the fans back. When the first step's
  // change fails, the curve ends and the helper's error is thrown. Points that make no
  // curve change nothing.
  [[nodiscard]] QCoro::Task<> applyCurve(FanCurve curve);
  // One step of the active curve: reads the temperature and sends the curve's level when it
  // moves. A temperature that cannot be read, or is outside 1 to 120 °C, hands the fans to
  // the system until a good one comes. Throws the helper's error for a failed change.
  [[nodiscard]] QCoro::Task<> followCurve();
  // Stops following the active curve, if any, and clears its mark; the fans stay as they
  // are. Every change but a curve's own step calls it, and so does quitting.
  void endCurve();

  // The same operations for the interface: started and left to finish, a failure
  // showing only in connectionState.
  Q_INVOKABLE void commitPercentage(int fanIndex, int percentage);
  Q_INVOKABLE void selectMode(zephro::FanControlViewModel::Mode mode);
  // An id that names no stored preset does nothing.
  Q_INVOKABLE void applyPresetWithID(const QString& id);
  // The same for a stored curve.
  Q_INVOKABLE void applyCurveWithID(const QString& id);
  Q_INVOKABLE void startInstallingHelper();

  // With neither text shown in the menu bar, turns the icon back on.
  Q_INVOKABLE void ensureMenuBarIconVisible();
  [[nodiscard]] bool isMenuBarTextVisible() const;
  [[nodiscard]] bool useFahrenheit() const;

 signals:
  void fansChanged();
  void sliderPercentagesChanged();
  void activeModeChanged();
  void connectionStateChanged();
  void isApplyingChangeChanged();
  void isInstallingHelperChanged();
  void systemTemperatureChanged();
  void isMenuBarTextVisibleChanged();
  void useFahrenheitChanged();

 private:
  [[nodiscard]] Mode qmlActiveMode() const { return static_cast<Mode>(rawValue(activeMode_)); }
  [[nodiscard]] PresetStore* presetStorePointer() const { return presetStore_.get(); }
  [[nodiscard]] CurveStore* curveStorePointer() const { return curveStore_.get(); }

  void setFans(std::vector<FanInfoDTO> fans);
  void setSliderPercentages(QList<int> percentages);
  void setActiveMode(FanMode mode);
  void setConnectionState(ConnectionState state);
  void setInstallingHelper(bool installing);
  void setSystemTemperature(double celsius);

  void beginChange();
  void endChange();

  void applyPoll(std::vector<FanInfoDTO> fans, double celsius);
  void pollFailed(const std::exception_ptr& error);
  void handleWake();
  // A refresh that also puts back what the firmware took during sleep.
  [[nodiscard]] QCoro::Task<> refreshAfterWake();

  // The temperature cannot be followed: the fans go to the system once, until it can.
  [[nodiscard]] QCoro::Task<> releaseForCurve(const QString& reason);

  // Loads the fan list once when it is empty. On failure the change ends and the
  // error is thrown.
  [[nodiscard]] QCoro::Task<> loadFansIfNeeded();
  // Sends the change begun with beginChange() and records its outcome.
  [[nodiscard]] QCoro::Task<> send(FanMode mode, QList<int> percentages,
                                   std::optional<QUuid> presetID);

  HelperClient& client_;
  UserDefaults& defaults_;
  ServiceManager& serviceManager_;
  const FanControlViewModelOptions options_;
  const std::unique_ptr<PresetStore> presetStore_;
  const std::unique_ptr<CurveStore> curveStore_;

  std::vector<FanInfoDTO> fans_;
  QList<int> sliderPercentages_;
  FanMode activeMode_ = FanMode::system;
  ConnectionState connectionState_ = ConnectionState::connecting();
  // isApplyingChange: true while any change is in flight, so a second change
  // started before the first returns stays covered.
  int changesInFlight_ = 0;
  bool isInstallingHelper_ = false;
  double systemTemperature_ = 0.0;
  int consecutiveRefreshFailures_ = 0;
  // Counts the changes sent to the helper; a poll compares it at its start and its end.
  std::uint64_t changesSent_ = 0;
  bool menuBarTextVisible_ = false;

  // The last change that forced the fans, as sent; none once they were handed back.
  struct ForcedChange {
    FanMode mode = FanMode::manual;
    QList<int> percentages;
    std::optional<QUuid> presetID;
    friend bool operator==(const ForcedChange&, const ForcedChange&) = default;
  };
  std::optional<ForcedChange> lastForced_;

  // The active curve: its loop's handle, where its level stands, and whether the fans were
  // handed back because the temperature could not be followed.
  std::shared_ptr<RefreshTask> curveTask_;
  std::optional<CurveFollower> follower_;
  bool curveReleased_ = false;

  std::shared_ptr<RefreshTask> refreshTask_;
  const std::unique_ptr<WakeSource> wakeSource_;
};

}  // namespace zephro
