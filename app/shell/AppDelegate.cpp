#include "app/shell/AppDelegate.h"

#include <QQuickItem>

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/services/AppUpdateManager.h"
#include "app/services/telemetry/CrashReport.h"
#include "app/settings/AppearanceMode.h"
#include "app/shell/QuitCoordinator.h"
#include "app/shell/StatusPicture.h"
#include "app/ui/ReduceMotion.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "app/viewmodel/HeadlessApp.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"

namespace zephro {
namespace {

AppDelegate* sharedDelegate = nullptr;

const QUrl kPopoverView(QStringLiteral("qrc:/qt/qml/Zephro/Popover/FanControlPopoverView.qml"));

StatusReading readingOf(const FanControlViewModel& viewModel, const UserDefaults& defaults) {
  StatusReading reading;
  reading.showRPM = defaults.value(defaults::showRPMInMenuBar);
  reading.showTemperature = defaults.value(defaults::showTempInMenuBar);
  reading.showIcon = defaults.value(defaults::showIconInMenuBar);
  reading.useFahrenheit = defaults.value(defaults::useFahrenheit);
  reading.fans = viewModel.fans();
  reading.celsius = viewModel.systemTemperature();
  return reading;
}

}  // namespace

AppDelegate::AppDelegate(FanControlViewModel& viewModel, UserDefaults& defaults,
                         AppUpdateManager& updates, QuitCoordinator& quit, TrayFactory makeTray,
                         Options options, QObject* parent)
    : QObject(parent),
      viewModel_(viewModel),
      defaults_(defaults),
      updates_(updates),
      quit_(quit),
      makeTray_(std::move(makeTray)),
      options_(std::move(options)),
      settings_(defaults, viewModel.client().serviceManager()) {
  engine_.addImportPath(QStringLiteral("qrc:/qt/qml"));
  updateTimer_.setInterval(options_.statusInterval);
  connect(&updateTimer_, &QTimer::timeout, this, &AppDelegate::updateStatusItem);
}

AppDelegate::~AppDelegate() {
  if (sharedDelegate == this) sharedDelegate = nullptr;
}

AppDelegate* AppDelegate::shared() {
  return sharedDelegate;
}

void AppDelegate::applicationDidFinishLaunching() {
  // A crash from here on is kept for the next launch; the last one is sent now.
  telemetry::installCrashHandler();
  telemetry::flushPendingCrash();
  applyAppearance();
  connect(&defaults_, &UserDefaults::valueChanged, this, [this](const QString& key) {
    if (key == QLatin1String(defaults::appearanceMode.name)) applyAppearance();
  });
  showOnboardingIfNeeded();
  detach(runLaunchCheck(viewModel_), "Launch check");
  // The tray decides what the popover is: without one it is the application's window.
  statusItem_ = makeTray_ ? makeTray_() : nullptr;
  setUpStatusItem();
  connect(&viewModel_, &FanControlViewModel::isMenuBarTextVisibleChanged, this,
          &AppDelegate::keepPollingForTheTray);
  viewModel_.startRefreshing();
  updateTimer_.start();
  if (!trayShowsTheEntry()) showPopover();
  sharedDelegate = this;
}

void AppDelegate::applyAppearance() {
  applyApplicationAppearance(currentAppearanceMode(defaults_));
}

void AppDelegate::showOnboardingIfNeeded() {
  if (options_.arguments.contains(QStringLiteral("--show-onboarding")) ||
      !defaults_.value(defaults::hasSeenOnboarding)) {
    showOnboarding();
  }
}

void AppDelegate::setUpPopover() {
  const QVariantMap properties{
      {QStringLiteral("viewModel"), QVariant::fromValue(&viewModel_)},
      {QStringLiteral("updateManager"), QVariant::fromValue(&updates_)},
      {QStringLiteral("settings"), QVariant::fromValue(&settings_)},
      {QStringLiteral("isMacBookAir"), options_.isMacBookAir},
      {QStringLiteral("reduceMotion"), desktopReducesMotion()},
      {QStringLiteral("showsAddPreset"), true},
      {QStringLiteral("showsFeedback"), true},
      {QStringLiteral("showsAbout"), true},
  };
  const auto style =
      trayShowsTheEntry() ? PopoverWindow::Style::popover : PopoverWindow::Style::ordinaryWindow;
  popover_ = std::make_unique<PopoverWindow>(engine_, kPopoverView, properties, style);
  if (auto* root = popover_->rootItem()) {
    connect(root, SIGNAL(quitRequested()), &quit_, SLOT(requestQuit()));
    connect(root, SIGNAL(addPresetRequested()), this, SLOT(showPresetWindow()));
    connect(root, SIGNAL(feedbackRequested()), this, SLOT(showFeedbackWindow()));
    connect(root, SIGNAL(aboutRequested()), this, SLOT(showAboutWindow()));
  }
  connect(popover_.get(), &PopoverWindow::closed, this, &AppDelegate::popoverDidClose);
  // After the first close the fans are polled while the popover is open, or for the tray.
  connect(&popover_->window(), &QWindow::visibleChanged, this, [this](bool visible) {
    if (visible) viewModel_.startRefreshing();
  });
}

// Made on first use: a tray application whose popover is never opened holds no view.
PopoverWindow& AppDelegate::popover() {
  if (!popover_) setUpPopover();
  return *popover_;
}

void AppDelegate::closePopover() {
  if (popover_) popover_->close();
}

bool AppDelegate::trayShowsTheEntry() const {
  return statusItem_ && statusItem_->isShown();
}

void AppDelegate::setUpStatusItem() {
  if (!statusItem_) return;
  connect(statusItem_.get(), &TrayEntry::activated, this, &AppDelegate::togglePopover);
  connect(statusItem_.get(), &TrayEntry::quitRequested, &quit_, &QuitCoordinator::requestQuit);
  // A panel that starts after the application takes the entry: the window that stood in
  // for it becomes the popover it opens.
  connect(statusItem_.get(), &TrayEntry::shownChanged, this, [this] {
    if (trayShowsTheEntry() && popover_ &&
        popover_->style() == PopoverWindow::Style::ordinaryWindow) {
      popover_.reset();
    }
  });
  // Until the first tick the entry shows the plain icon.
  showPicture(StatusReading{});
}

void AppDelegate::togglePopover(std::optional<QPoint> anchor) {
  // While the first-run window is on screen the tray entry leads back to it.
  if (onboardingWindow_ && onboardingWindow_->isVisible()) {
    onboardingWindow_->bringForward();
    return;
  }
  if (popover_ && popover_->isShown()) {
    popover_->close();
    return;
  }
  if (sinceLastClose_ && sinceLastClose_->elapsed() <= options_.reopenGuard.count()) return;
  popover().show(anchor);
}

void AppDelegate::showPopover() {
  if (!popover().isShown()) popover().show(std::nullopt);
}

void AppDelegate::showPresetWindow() {
  if (!presetWindow_) presetWindow_ = std::make_unique<PresetWindowController>(engine_);
  closePopover();
  presetWindow_->show(viewModel_);
}

void AppDelegate::showFeedbackWindow() {
  if (!feedbackWindow_) feedbackWindow_ = std::make_unique<FeedbackWindowController>(engine_);
  closePopover();
  feedbackWindow_->show();
}

void AppDelegate::showOnboarding() {
  if (!onboardingWindow_) {
    onboardingWindow_ = std::make_unique<OnboardingWindowController>(engine_, defaults_);
  }
  closePopover();
  onboardingWindow_->show();
}

void AppDelegate::showAboutWindow() {
  if (!aboutWindow_) aboutWindow_ = std::make_unique<AboutWindowController>(engine_);
  closePopover();
  aboutWindow_->show();
}

void AppDelegate::popoverDidClose() {
  sinceLastClose_.emplace();
  sinceLastClose_->start();
  keepPollingForTheTray();
}

// With the popover closed the fans are polled only while the status item shows their
// speed or the temperature: stopped polls would leave stale numbers in the tray.
void AppDelegate::keepPollingForTheTray() {
  if (!sinceLastClose_ || (popover_ && popover_->isShown())) return;
  if (!viewModel_.isMenuBarTextVisible()) {
    viewModel_.stopRefreshing();
  } else if (!viewModel_.isRefreshing()) {
    viewModel_.startRefreshing();
  }
}

void AppDelegate::updateStatusItem() {
  if (!statusItem_) return;
  showPicture(readingOf(viewModel_, defaults_));
}

void AppDelegate::showPicture(const StatusReading& reading) {
  statusItem_->showReading(reading);
}

}  // namespace zephro
