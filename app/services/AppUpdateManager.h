#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/services/AppUpdateState.h"
#include "platform/update/UserDriver.h"

namespace zephro {

class HeadlessUpdateUserDriver;
class LocalizationManager;

// The application's side of self-updates. It runs the update framework's updater behind a
// driver of its own (HeadlessUpdateUserDriver), so no window of the framework ever shows:
// every step the updater reports becomes one published state, which the popover draws as
// its update row. Downloads start as soon as an update is found; only the installation
// waits for the user. Main thread only, like the updater's callbacks.
class AppUpdateManager : public QObject, public update::UpdaterDelegate {
  Q_OBJECT
  QML_ELEMENT
  QML_UNCREATABLE("The application makes the one update manager.")

  /// Where checking for, downloading and installing an update stand.
  Q_PROPERTY(zephro::AppUpdateState state READ state NOTIFY stateChanged)
  /// The update row's text for that state, in the interface language.
  Q_PROPERTY(QString updateRowLabel READ updateRowLabel NOTIFY updateRowLabelChanged)

 public:
  // Makes the updater (never null) around the driver it reports to and the delegate it
  // asks. The updater may keep the driver as long as it likes; the driver outlives the
  // manager harmlessly.
  using UpdaterFactory = std::function<std::unique_ptr<update::Updater>(
      std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate& delegate)>;
  // Shows a web page to the user.
  using UrlOpener = std::function<void(const QUrl&)>;

  // Makes the driver and, through makeUpdater, the updater, then starts the updater. When
  // it cannot start, the state says why; checks still go to the same updater later.
  AppUpdateManager(const UpdaterFactory& makeUpdater, LocalizationManager& localization,
                   UrlOpener openUrl = openInBrowser, QObject* parent = nullptr);
  ~AppUpdateManager() override;
  AppUpdateManager(const AppUpdateManager&) = delete;
  AppUpdateManager& operator=(const AppUpdateManager&) = delete;

  // The desktop's web browser.
  static void openInBrowser(const QUrl& url);

  [[nodiscard]] const AppUpdateState& state() const { return state_; }
  [[nodiscard]] QString updateRowLabel() const;

  // Release notes are never shown, so never fetched.
  [[nodiscard]] bool shouldDownloadReleaseNotes(const update::AppcastItem& item) override;

  // A check the user asked for. Ignored while a check, download or installation runs, and
  // while the updater says it cannot check.
  Q_SLOT void checkForUpdates();
  // Installs the downloaded update and lets the application relaunch. Only in
  // readyToInstall; otherwise nothing happens.
  Q_SLOT void installUpdate();
  // The update row was clicked: install when an update is ready, check otherwise.
  Q_SLOT void rowActivated();

 signals:
  void stateChanged();
  void updateRowLabelChanged();

 private:
  friend class HeadlessUpdateUserDriver;

  void setState(AppUpdateState state);
  // Returns the reply for the updater.
  [[nodiscard]] update::UserUpdateChoice handleFoundUpdate(const update::AppcastItem& item,
                                                           const update::UserUpdateState& state);
  void handleError(const Error& error);
  void beginDownload();
  void setExpectedDownloadLength(std::uint64_t length);
  void addDownloadedLength(std::uint64_t length);
  void showDownloadProgress();
  // Clamped to 0...1.
  void setExtractionProgress(double progress);
  void holdInstallReply(std::function<void(update::UserUpdateChoice)> reply);

  [[nodiscard]] QString version() const { return updateVersion_.value_or(QString()); }

  AppUpdateState state_;
  LocalizationManager& localization_;
  const UrlOpener openUrl_;
  // The displayVersionString of the last update found.
  std::optional<QString> updateVersion_;
  std::uint64_t expectedDownloadLength_ = 0;  // 0 while unknown
  std::uint64_t downloadedLength_ = 0;
  // From the ready-to-install step until the user installs or an error drops it.
  std::function<void(update::UserUpdateChoice)> readyInstallReply_;
  // Set while the destructor runs: an updater that reports as it shuts down then finds
  // nobody, just as after the manager is gone.
  bool shuttingDown_ = false;

  const std::shared_ptr<HeadlessUpdateUserDriver> driver_;
  // Last, so that it goes first, while everything it might report to still exists.
  const std::unique_ptr<update::Updater> updater_;
};

}  // namespace zephro
