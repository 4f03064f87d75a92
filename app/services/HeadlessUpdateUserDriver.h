#pragma once

#include <QPointer>

#include "platform/update/UserDriver.h"

namespace zephro {

class AppUpdateManager;

// The update framework's user driver that shows nothing of its own: every step the updater
// reports becomes a change of the manager's state, which the popover draws as one row.
//
// It holds the manager weakly, because the updater may keep its driver past the manager.
// A step reported after the manager is gone changes nothing, yet the updater still gets
// its replies and acknowledgements, so it never waits on an interface that is no longer
// there. The ready-to-install reply is the exception: only the user may install, so with no
// manager to ask it is released uncalled.
class HeadlessUpdateUserDriver final : public update::UserDriver {
 public:
  explicit HeadlessUpdateUserDriver(AppUpdateManager& owner);

  void showUpdatePermissionRequest(
      std::function<void(update::UpdatePermissionResponse)> reply) override;
  void showUserInitiatedUpdateCheck(std::function<void()> cancellation) override;
  void showUpdateFound(const update::AppcastItem& item, const update::UserUpdateState& state,
                       std::function<void(update::UserUpdateChoice)> reply) override;
  void showUpdateReleaseNotes(const std::vector<std::uint8_t>& downloadData) override;
  void showUpdateReleaseNotesFailedToDownload(const Error& error) override;
  void showUpdateNotFound(const Error& error, std::function<void()> acknowledgement) override;
  void showUpdaterError(const Error& error, std::function<void()> acknowledgement) override;
  void showDownloadInitiated(std::function<void()> cancellation) override;
  void showDownloadDidReceiveExpectedContentLength(std::uint64_t expectedContentLength) override;
  void showDownloadDidReceiveData(std::uint64_t length) override;
  void showDownloadDidStartExtractingUpdate() override;
  void showExtractionReceivedProgress(double progress) override;
  void showReadyToInstallAndRelaunch(std::function<void(update::UserUpdateChoice)> reply) override;
  void showInstallingUpdate(bool applicationTerminated,
                            std::function<void()> retryTerminatingApplication) override;
  void showUpdateInstalledAndRelaunched(bool relaunched,
                                        std::function<void()> acknowledgement) override;
  void dismissUpdateInstallation() override;
  void showUpdateInFocus() override;

 private:
  // The manager, or null once it is gone or going.
  [[nodiscard]] AppUpdateManager* owner() const;

  QPointer<AppUpdateManager> owner_;
};

}  // namespace zephro
