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
      wakeSource_(std::move(wakeSource)) {
  defaults_.registerDefaults(
      QVariantMap{{QString::fromLatin1(defaults::showIconInMenuBar.name), true}});
  ensureMenuBarIconVisible();

  menuBarTextVisible_ = zephro::isMenuBarTextVisible(defaults_);
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (!isMenuBarTextKey(key)) return;
    const bool visible = zephro::isMenuBarTextVisible(defaults_);
    if (visible == menuBarTextVisible_) return;
    menuBarTextVisible_ = visible;
    emit isMenuBarTextVisibleChanged();
  });

  if (wakeSource_) {
    connect(wakeSource_.get(), &WakeSource::didWake, this, &FanControlViewModel::handleWake);
  }
}

FanControlViewModel::~FanControlViewModel() {
  stopRefreshing();
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
  detach(refresh(), "Wake refresh");
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
  beginChange();
  try {
    auto change = send(FanMode::manual, sliderPercentages_, std::nullopt);
    co_await change;
  } catch (...) {
    // Shown in connectionState; this operation reports nothing else.
  }
}

QCoro::Task<> FanControlViewModel::setSystemMode() {
  beginChange();
  auto change = send(FanMode::system, {}, std::nullopt);
  co_await change;
}

QCoro::Task<> FanControlViewModel::setMaxMode() {
  const QPointer<FanControlViewModel> self(this);
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

void FanControlViewModel::startInstallingHelper() {
  detach(installHelper(), "Helper installation");
}

void FanControlViewModel::ensureMenuBarIconVisible() {
  zephro::ensureMenuBarIconVisible(defaults_);
}

bool FanControlViewModel::isMenuBarTextVisible() const {
  return menuBarTextVisible_;
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
