#include "app/viewmodel/FanControlViewModel.h"

#include <QCoro/QCoroTimer>
#include <QPointer>
#include <QVariantMap>

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/core/HelperInstallError.h"
#include "app/core/RemoteError.h"
#include "app/presets/PresetPercentages.h"
#include "app/settings/MenuBarVisibility.h"
#include "app/viewmodel/FanPercentage.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/ServiceManager.h"

namespace zephro {

namespace {

// The text the user sees for an error: its localized description.
QString localizedDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& exception) {
    return QString::fromStdString(exception.what());
  } catch (...) {
    return QStringLiteral("The operation couldn\u2019t be completed.");
  }
}

// The error state for a failed change: a refusal the user cannot overcome by trying again
// says why.
ConnectionState changeFailedState(const std::exception_ptr& error) {
  using Refusal = ConnectionState::Refusal;
  auto refusal = Refusal::none;
  try {
    std::rethrow_exception(error);
  } catch (const RemoteError& remote) {
    const auto& failure = remote.error();
    if (failure.domain == kHelperErrorDomain && failure.code == kHelperNotAuthorized) {
      refusal = Refusal::notAuthorized;
    } else if (failure.domain == kSMCErrorDomainName && failure.code == kReadOnlyFanStatus) {
      refusal = Refusal::readOnlyFans;
    }
  } catch (...) {
  }
  const auto message = localizedDescription(error);
  return refusal == Refusal::none ? ConnectionState::error(message)
                                  : ConnectionState::refused(refusal, message);
}

QList<int> toList(const std::vector<int>& values) {
  return {values.begin(), values.end()};
}

// Percentages as the interface holds them; a stored preset may carry any 64-bit value.
QList<int> toList(const std::vector<std::int64_t>& values) {
  QList<int> list;
  list.reserve(qsizetype(values.size()));
  for (const auto value : values) {
    list.push_back(static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                             std::numeric_limits<int>::max())));
  }
  return list;
}

// One run of the poll loop. A free function so that nothing it needs lives in a
// lambda's captures; it holds the view model weakly and ends when either the view
// model goes away or its handle is cancelled.
QCoro::Task<> runPollLoop(QPointer<FanControlViewModel> self, std::shared_ptr<RefreshTask> task,
                          std::chrono::milliseconds interval) {
  while (self && !task->isCancelled()) {
    if (!self->isApplyingChange()) {
      co_await self->refresh();
    }
    if (!self || task->isCancelled()) co_return;
    co_await task->sleep(interval);
  }
}

// The active curve's loop: its first step was the applying's own, so it sleeps first.
QCoro::Task<> runCurveLoop(QPointer<FanControlViewModel> self, std::shared_ptr<RefreshTask> task,
                           std::chrono::milliseconds interval) {
  for (;;) {
    co_await task->sleep(interval);
    if (!self || task->isCancelled()) co_return;
    try {
      co_await self->followCurve();
    } catch (...) {
      // Shown in connectionState; the next step tries again.
    }
    if (!self || task->isCancelled()) co_return;
  }
}

// The firmware's own readings stay within this; anything else is a sensor fault.
bool isFollowableTemperature(double celsius) {
  return celsius >= 1.0 && celsius <= 120.0;
}

// For actions started from the interface: the failure is already in connectionState.
QCoro::Task<> ignoringFailure(QCoro::Task<> operation) {
  try {
    co_await operation;
  } catch (...) {
  }
}

bool isMenuBarTextKey(const QString& key) {
  return key == QLatin1StringView(defaults::showRPMInMenuBar.name) ||
         key == QLatin1StringView(defaults::showTempInMenuBar.name);
}

}  // namespace

FanControlViewModel::FanControlViewModel(HelperClient& client, UserDefaults& defaults,
                                         ServiceManager& serviceManager,
                                         std::unique_ptr<WakeSource> wakeSource,
                                         FanControlViewModelOptions options, QObject* parent)
    : QObject(parent),
      client_(client),
      defaults_(defaults),
      serviceManager_(serviceManager),
      options_(options),
      presetStore_(std::make_unique<PresetStore>(defaults)),
      curveStore_(std::make_unique<CurveStore>(defaults)),
      wakeSource_(std::move(wakeSource)) {
  defaults_.registerDefaults(
      QVariantMap{{QString::fromLatin1(defaults::showIconInMenuBar.name), true}});
  ensureMenuBarIconVisible();

  menuBarTextVisible_ = zephro::isMenuBarTextVisible(defaults_);
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (key == QLatin1String(defaults::useFahrenheit.name)) emit useFahrenheitChanged();
    if (!isMenuBarTextKey(key)) return;
    const bool visible = zephro::isMenuBarTextVisible(defaults_);
    if (visible == menuBarTextVisible_) return;
    menuBarTextVisible_ = visible;
    emit isMenuBarTextVisibleChanged();
  });

  if (wakeSource_) {
    connect(wakeSource_.get(), &WakeSource::didWake, this, &FanControlViewModel::handleWake);
  }
  // The curve the fans follow was deleted: they are not left at its last level.
  connect(curveStore_.get(), &CurveStore::activeCurveIDChanged, this, [this] {
    if (!curveTask_ || curveStore_->activeCurveID()) return;
    log::write("[Zephro] The fan curve in force was deleted; the fans go back to the system.");
    detach(ignoringFailure(setSystemMode()), "System mode");
  });
  // The curve the fans follow was edited: they follow its new points from now on.
  connect(curveStore_.get(), &CurveStore::curvesChanged, this, [this] {
    const auto id = curveStore_->activeCurveID();
    if (!curveTask_ || !id) return;
    const auto curve = curveStore_->curve(*id);
    if (curve && curve->points != follower_->points()) {
      detach(ignoringFailure(applyCurve(*curve)), "Fan curve");
    }
  });
}

FanControlViewModel::~FanControlViewModel() {
  stopRefreshing();
  if (curveTask_) curveTask_->cancel();
}

QList<FanRecord> FanControlViewModel::fanRecords() const {
  QList<FanRecord> records;
  records.reserve(qsizetype(fans_.size()));
  for (const auto& fan : fans_) records.push_back(FanRecord(fan));
  return records;
}

void FanControlViewModel::showNeedsApproval() {
  setConnectionState(ConnectionState::needsApproval());
}

void FanControlViewModel::startRefreshing() {
  stopRefreshing();
  refreshTask_ = std::make_shared<RefreshTask>();
  detach(runPollLoop(this, refreshTask_, options_.pollInterval), "Poll loop");
}

void FanControlViewModel::stopRefreshing() {
  if (!refreshTask_) return;
  refreshTask_->cancel();
  refreshTask_.reset();
}

QCoro::Task<> FanControlViewModel::refresh() {
  const QPointer<FanControlViewModel> self(this);
  HelperClient& client = client_;
  const std::uint64_t generation = changesSent_;
  // Both requests are under way before either answer is awaited.
  auto fansRequest = client.fetchFanInfo();
  auto temperatureRequest = client.fetchSystemTemperature();

  std::optional<std::vector<FanInfoDTO>> fans;
  std::optional<double> celsius;
  std::exception_ptr failure;
  try {
    fans = co_await fansRequest;
  } catch (...) {
    failure = std::current_exception();
  }
  // Awaited even after a fan error, so no request outlives the poll; the fan error wins.
  try {
    celsius = co_await temperatureRequest;
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }

  if (!self) co_return;
  // The helper answered before it saw a change sent since: applying the answer would put
  // back the mode and sliders that change replaced.
  if (self->changesSent_ != generation) co_return;
  if (failure) {
    self->pollFailed(failure);
    co_return;
  }
  self->applyPoll(std::move(*fans), *celsius);
}

void FanControlViewModel::applyPoll(std::vector<FanInfoDTO> fans, double celsius) {
  setFans(std::move(fans));
  setSystemTemperature(celsius);

  const FanMode reported = fans_.empty() ? FanMode::system : fans_.front().mode();
  // The user's sliders stay while the fans run as they asked; in system mode they
  // follow the fans.
  if (std::size_t(sliderPercentages_.size()) != fans_.size() || reported == FanMode::system) {
    setSliderPercentages(toList(fanPercentages(fans_)));
  }
  if (reported == FanMode::system && presetStore_->activePresetID()) {
    presetStore_->setActivePresetID(std::nullopt);
  }
  setActiveMode(reported);
  setConnectionState(ConnectionState::connected());
  consecutiveRefreshFailures_ = 0;
}

void FanControlViewModel::pollFailed(const std::exception_ptr& error) {
  // A change in flight answers for itself, and an approval prompt says more than a
  // refused connection.
  if (isApplyingChange()) return;
  if (connectionState_.kind() == ConnectionState::Kind::needsApproval) return;
  ++consecutiveRefreshFailures_;
  if (consecutiveRefreshFailures_ >= 2) {
    setConnectionState(ConnectionState::error(localizedDescription(error)));
  }
}

void FanControlViewModel::handleWake() {
  if (isApplyingChange()) return;
  detach(refreshAfterWake(), "Wake refresh");
}

QCoro::Task<> FanControlViewModel::refreshAfterWake() {
  const QPointer<FanControlViewModel> self(this);
  const auto forced = lastForced_;
  co_await refresh();
  if (!self) co_return;
  // A curve's next step sends its level again, whatever the firmware did.
  if (self->follower_) {
    self->follower_->forget();
    co_return;
  }
  // Only what the poll saw of the fans as Zephro left them: not after a failed poll or
  // another change.
  if (!forced || self->lastForced_ != forced || self->activeMode_ != FanMode::system) co_return;
  log::write(std::string("[Zephro] Fans were released during sleep; applying ") +
             fanModeName(rawValue(forced->mode)) + " again.");
  self->beginChange();
  try {
    auto change = self->send(forced->mode, forced->percentages, forced->presetID);
    co_await change;
  } catch (...) {
    // Shown in connectionState.
  }
}

QCoro::Task<> FanControlViewModel::installHelper() {
  const QPointer<FanControlViewModel> self(this);
  HelperClient& client = client_;
  const FanControlViewModelOptions options = options_;
  setInstallingHelper(true);
  setConnectionState(ConnectionState::connecting());

  bool needsApproval = false;
  try {
    co_await client.registerHelperInBackground(true);
  } catch (const HelperInstallError& error) {
    if (error.kind() == HelperInstallError::Kind::requiresApproval) {
      needsApproval = true;
    } else {
      log::write(std::string("[Zephro] Helper install reported: ") + error.what());
    }
  } catch (const std::exception& error) {
    // Whatever went wrong, the readiness polls below show the helper's real state.
    log::write(std::string("[Zephro] Helper install reported: ") + error.what());
  }
  if (!self) co_return;

  if (needsApproval) {
    self->setConnectionState(ConnectionState::needsApproval());
    self->serviceManager_.openSystemSettingsLoginItems();
    self->setInstallingHelper(false);
    co_return;
  }

  for (int attempt = 1;; ++attempt) {
    co_await self->refresh();
    if (!self) co_return;
    if (self->connectionState_ == ConnectionState::connected()) break;
    if (attempt >= options.installPollAttempts) break;
    co_await QCoro::sleepFor(options.installPollInterval);
    if (!self) co_return;
  }
  self->setInstallingHelper(false);
}

QCoro::Task<> FanControlViewModel::setPercentage(int fanIndex, int percentage) {
  if (fanIndex < 0 || std::size_t(fanIndex) >= fans_.size() ||
      fanIndex >= sliderPercentages_.size()) {
    co_return;
  }
  endCurve();
  beginChange();
  QList<int> sliders = sliderPercentages_;
  sliders[fanIndex] = percentage;
  setSliderPercentages(sliders);
  try {
    auto change = send(FanMode::manual, std::move(sliders), std::nullopt);
    co_await change;
  } catch (...) {
    // Shown in connectionState; this operation reports nothing else.
  }
}

QCoro::Task<> FanControlViewModel::setManualMode() {
  endCurve();
  beginChange();
  try {
    auto change = send(FanMode::manual, sliderPercentages_, std::nullopt);
    co_await change;
  } catch (...) {
    // Shown in connectionState; this operation reports nothing else.
  }
}

QCoro::Task<> FanControlViewModel::setSystemMode() {
  endCurve();
  beginChange();
  auto change = send(FanMode::system, {}, std::nullopt);
  co_await change;
}

QCoro::Task<> FanControlViewModel::setMaxMode() {
  const QPointer<FanControlViewModel> self(this);
  endCurve();
  beginChange();
  co_await loadFansIfNeeded();
  if (!self) co_return;
  const QList<int> percentages(qsizetype(self->fans_.size()), kMaximumFanPercentage);
  self->setSliderPercentages(percentages);
  auto change = self->send(FanMode::max, percentages, std::nullopt);
  co_await change;
}

QCoro::Task<> FanControlViewModel::applyPreset(Preset preset) {
  const QPointer<FanControlViewModel> self(this);
  endCurve();
  beginChange();
  co_await loadFansIfNeeded();
  if (!self) co_return;
  if (self->fans_.empty()) {
    self->endChange();
    co_return;
  }
  const QList<int> percentages = toList(presetPercentages(preset, self->fans_));
  self->setSliderPercentages(percentages);
  auto change = self->send(FanMode::manual, percentages, preset.id);
  co_await change;
}

QCoro::Task<> FanControlViewModel::adjustAllFans(int step) {
  const QPointer<FanControlViewModel> self(this);
  endCurve();
  beginChange();
  co_await loadFansIfNeeded();
  if (!self) co_return;
  if (self->fans_.empty()) {
    self->endChange();
    co_return;
  }
  // From the speeds the fans run at, not from the sliders.
  const QList<int> percentages = toList(steppedPercentages(self->fans_, step));
  self->setSliderPercentages(percentages);
  auto change = self->send(FanMode::manual, percentages, std::nullopt);
  co_await change;
}

QCoro::Task<> FanControlViewModel::applyCurve(FanCurve curve) {
  if (curvePointsProblem(curve.points)) co_return;
  const QPointer<FanControlViewModel> self(this);
  endCurve();
  presetStore_->setActivePresetID(std::nullopt);
  curveStore_->setActiveCurveID(curve.id);
  follower_.emplace(std::move(curve.points));
  const auto task = std::make_shared<RefreshTask>();
  curveTask_ = task;
  try {
    co_await followCurve();
  } catch (...) {
    if (self && self->curveTask_ == task) self->endCurve();
    throw;
  }
  if (!self || self->curveTask_ != task) co_return;
  detach(runCurveLoop(self, task, self->options_.pollInterval), "Fan curve");
}

QCoro::Task<> FanControlViewModel::followCurve() {
  // A change in flight is the user's or the curve's last step; the next step follows it.
  if (!curveTask_ || isApplyingChange()) co_return;
  const QPointer<FanControlViewModel> self(this);
  const auto task = curveTask_;
  HelperClient& client = client_;
  std::optional<double> celsius;
  QString unfollowable;
  try {
    celsius = co_await client.fetchSystemTemperature();
  } catch (...) {
    unfollowable = localizedDescription(std::current_exception());
  }
  if (!self || self->curveTask_ != task) co_return;
  if (celsius && !isFollowableTemperature(*celsius)) {
    unfollowable = QStringLiteral("%1 °C is outside 1 to 120 °C").arg(*celsius);
  }
  if (!unfollowable.isEmpty()) {
    co_await self->releaseForCurve(unfollowable);
    co_return;
  }
  self->setSystemTemperature(*celsius);
  const auto level = self->follower_->next(*celsius);
  if (!level) co_return;

  self->beginChange();
  try {
    co_await self->loadFansIfNeeded();
  } catch (...) {
    if (self && self->curveTask_ == task) self->follower_->forget();
    throw;
  }
  if (!self) co_return;
  if (self->fans_.empty()) {
    self->endChange();
    co_return;
  }
  const QList<int> levels(qsizetype(self->fans_.size()), *level);
  self->setSliderPercentages(levels);
  try {
    auto change = self->send(FanMode::manual, levels, std::nullopt);
    co_await change;
  } catch (...) {
    if (self && self->curveTask_ == task) self->follower_->forget();
    throw;
  }
  if (self && self->curveTask_ == task) self->curveReleased_ = false;
}

QCoro::Task<> FanControlViewModel::releaseForCurve(const QString& reason) {
  const QPointer<FanControlViewModel> self(this);
  const auto task = curveTask_;
  // The first good reading sets the curve's level again.
  follower_->forget();
  if (curveReleased_) co_return;
  curveReleased_ = true;
  log::write("[Zephro] Fan curve paused, the temperature cannot be followed (" +
             reason.toStdString() + "); the fans are back under system control.");
  beginChange();
  try {
    auto change = send(FanMode::system, {}, std::nullopt);
    co_await change;
  } catch (...) {
    // Still forced: the next step tries to hand them back again.
    if (self && self->curveTask_ == task) self->curveReleased_ = false;
    throw;
  }
}

void FanControlViewModel::endCurve() {
  if (!curveTask_) return;
  curveTask_->cancel();
  curveTask_.reset();
  follower_.reset();
  curveReleased_ = false;
  curveStore_->setActiveCurveID(std::nullopt);
}

QCoro::Task<> FanControlViewModel::loadFansIfNeeded() {
  if (!fans_.empty()) co_return;
  const QPointer<FanControlViewModel> self(this);
  HelperClient& client = client_;
  std::vector<FanInfoDTO> fans;
  std::exception_ptr failure;
  try {
    fans = co_await client.fetchFanInfo();
  } catch (...) {
    failure = std::current_exception();
  }
  if (!self) {
    if (failure) std::rethrow_exception(failure);
    co_return;
  }
  if (failure) {
    self->endChange();
    std::rethrow_exception(failure);
  }
  self->setFans(std::move(fans));
  self->setSliderPercentages(toList(fanPercentages(self->fans_)));
}

QCoro::Task<> FanControlViewModel::send(FanMode mode, QList<int> percentages,
                                        std::optional<QUuid> presetID) {
  const QPointer<FanControlViewModel> self(this);
  HelperClient& client = client_;
  ++changesSent_;
  std::exception_ptr failure;
  try {
    auto request = client.setMode(mode, std::vector<int>(percentages.begin(), percentages.end()));
    co_await request;
  } catch (...) {
    failure = std::current_exception();
  }
  if (!self) {
    if (failure) std::rethrow_exception(failure);
    co_return;
  }
  if (failure) {
    // The mode and the preset mark stay as they were; the sliders keep what was sent.
    self->setConnectionState(changeFailedState(failure));
    self->endChange();
    std::rethrow_exception(failure);
  }
  self->setActiveMode(mode);
  self->presetStore_->setActivePresetID(presetID);
  self->lastForced_ = mode == FanMode::system
                          ? std::nullopt
                          : std::optional(ForcedChange{mode, std::move(percentages), presetID});
  self->endChange();
}

void FanControlViewModel::commitPercentage(int fanIndex, int percentage) {
  detach(setPercentage(fanIndex, percentage), "Slider change");
}

void FanControlViewModel::selectMode(Mode mode) {
  switch (mode) {
    case Mode::System:
      detach(ignoringFailure(setSystemMode()), "System mode");
      return;
    case Mode::Manual:
      detach(setManualMode(), "Manual mode");
      return;
    case Mode::Max:
      detach(ignoringFailure(setMaxMode()), "Max mode");
      return;
  }
}

void FanControlViewModel::applyPresetWithID(const QString& id) {
  const auto uuid = uuidFromText(id);
  if (!uuid) return;
  for (const auto& preset : presetStore_->presets()) {
    if (preset.id == *uuid) {
      detach(ignoringFailure(applyPreset(preset)), "Preset");
      return;
    }
  }
}

void FanControlViewModel::applyCurveWithID(const QString& id) {
  const auto uuid = uuidFromText(id);
  if (!uuid) return;
  if (auto curve = curveStore_->curve(*uuid)) {
    detach(ignoringFailure(applyCurve(std::move(*curve))), "Fan curve");
  }
}

void FanControlViewModel::startInstallingHelper() {
  detach(installHelper(), "Helper installation");
}

void FanControlViewModel::ensureMenuBarIconVisible() {
  zephro::ensureMenuBarIconVisible(defaults_);
}

bool FanControlViewModel::isMenuBarTextVisible() const {
  return menuBarTextVisible_;
}

bool FanControlViewModel::useFahrenheit() const {
  return defaults_.value(defaults::useFahrenheit);
}

void FanControlViewModel::setFans(std::vector<FanInfoDTO> fans) {
  if (fans == fans_) return;
  fans_ = std::move(fans);
  emit fansChanged();
}

void FanControlViewModel::setSliderPercentages(QList<int> percentages) {
  if (percentages == sliderPercentages_) return;
  sliderPercentages_ = std::move(percentages);
  emit sliderPercentagesChanged();
}

void FanControlViewModel::setActiveMode(FanMode mode) {
  if (mode == activeMode_) return;
  activeMode_ = mode;
  emit activeModeChanged();
}

void FanControlViewModel::setConnectionState(ConnectionState state) {
  if (state == connectionState_) return;
  connectionState_ = std::move(state);
  emit connectionStateChanged();
}

void FanControlViewModel::setInstallingHelper(bool installing) {
  if (installing == isInstallingHelper_) return;
  isInstallingHelper_ = installing;
  emit isInstallingHelperChanged();
}

void FanControlViewModel::setSystemTemperature(double celsius) {
  if (celsius == systemTemperature_) return;
  systemTemperature_ = celsius;
  emit systemTemperatureChanged();
}

void FanControlViewModel::beginChange() {
  if (++changesInFlight_ == 1) emit isApplyingChangeChanged();
}

void FanControlViewModel::endChange() {
  if (changesInFlight_ == 0) return;
  if (--changesInFlight_ == 0) emit isApplyingChangeChanged();
}

}  // namespace zephro
