#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QQmlEngine>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

#include "app/presets/window/PresetWindowController.h"
#include "app/services/feedback/FeedbackWindowController.h"
#include "app/shell/PopoverWindow.h"
#include "app/shell/TrayEntry.h"
#include "app/ui/about/AboutWindowController.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "app/ui/popover/PopoverSettings.h"

namespace zephro {

class AppUpdateManager;
class FanControlViewModel;
class QuitCoordinator;
struct StatusReading;
class UserDefaults;

// The application shell: the launch sequence, the tray entry and its picture, the
// popover it opens, the appearance, and the way out through the quit coordinator.
class AppDelegate : public QObject {
  Q_OBJECT

 public:
  // Makes the tray entry the desktop supports, or nothing when it has no tray.
  using TrayFactory = std::function<std::unique_ptr<TrayEntry>()>;

  struct Options {
    QStringList arguments;
    std::chrono::milliseconds statusInterval{2000};
    // A click that closed the popover by leaving it must not reopen it at once.
    std::chrono::milliseconds reopenGuard{250};
    bool isMacBookAir = false;
  };

  AppDelegate(FanControlViewModel& viewModel, UserDefaults& defaults, AppUpdateManager& updates,
              QuitCoordinator& quit, TrayFactory makeTray, Options options,
              QObject* parent = nullptr);
  ~AppDelegate() override;

  // Once launching has finished the delegate is the shared one, until it goes away.
  void applicationDidFinishLaunching();
  // The delegate of the application that has finished launching; null before that.
  [[nodiscard]] static AppDelegate* shared();

  [[nodiscard]] FanControlViewModel& viewModel() const { return viewModel_; }

  // The tray entry's action: opens or closes the popover at `anchor`.
  void togglePopover(std::optional<QPoint> anchor);
  // A later launch asked for the application: without a tray the popover is its window.
  void showPopover();
  // Redraws the tray entry from the view model's last values.
  void updateStatusItem();

  // The popover, made on first use.
  [[nodiscard]] PopoverWindow& popover();
  [[nodiscard]] TrayEntry* statusItem() const { return statusItem_.get(); }
  [[nodiscard]] PresetWindowController* presetWindow() const { return presetWindow_.get(); }
  [[nodiscard]] FeedbackWindowController* feedbackWindow() const { return feedbackWindow_.get(); }
  [[nodiscard]] OnboardingWindowController* onboardingWindow() const {
    return onboardingWindow_.get();
  }
  [[nodiscard]] AboutWindowController* aboutWindow() const { return aboutWindow_.get(); }

  // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs to see the slots.
 public slots:
  // The popover's add-preset entry and the "presets" action: the preset manager, made on
  // first use, brought to the front.
  void showPresetWindow();
  // The popover's feedback entry and the "feedback" action: a fresh feedback form.
  void showFeedbackWindow();
  // Launch, "--show-onboarding" and the "onboarding" action: the first page of the
  // first-run window, which records that it has been seen.
  void showOnboarding();
  // The popover's About entry and the "about" action: the one About panel.
  void showAboutWindow();

 private:
  void showOnboardingIfNeeded();
  void setUpPopover();
  void setUpStatusItem();
  [[nodiscard]] bool trayShowsTheEntry() const;
  void closePopover();
  void applyAppearance();
  void popoverDidClose();
  void keepPollingForTheTray();
  void showPicture(const StatusReading& reading);

  FanControlViewModel& viewModel_;
  UserDefaults& defaults_;
  AppUpdateManager& updates_;
  QuitCoordinator& quit_;
  TrayFactory makeTray_;
  Options options_;
  PopoverSettings settings_;
  QQmlEngine engine_;
  std::unique_ptr<PopoverWindow> popover_;
  std::unique_ptr<TrayEntry> statusItem_;
  std::unique_ptr<PresetWindowController> presetWindow_;
  std::unique_ptr<FeedbackWindowController> feedbackWindow_;
  std::unique_ptr<OnboardingWindowController> onboardingWindow_;
  std::unique_ptr<AboutWindowController> aboutWindow_;
  std::optional<QElapsedTimer> sinceLastClose_;
  QTimer updateTimer_;
};

}  // namespace zephro
