#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/error/Error.h"
#include "platform/update/AppcastItem.h"

namespace zephro::update {

// What the user decided about an update.
enum class UserUpdateChoice : std::int64_t { skip = 0, install = 1, dismiss = 2 };

// The circumstances of a found update.
struct UserUpdateState {
  // The user asked for this check (as opposed to a scheduled one).
  bool userInitiated = false;
};

// The answer to the one-time question whether the updater may check on its own.
struct UpdatePermissionResponse {
  bool automaticUpdateChecks = false;
  bool sendSystemProfile = false;
};

// The updater's only way to show anything: it reports each step of a check,
// download and installation here and waits for the replies it passes. Called on
// the main thread. Every reply, cancellation and acknowledgement may be called
// at most once; the updater copes with one that is never called.
class UserDriver {
 public:
  virtual ~UserDriver() = default;

  virtual void showUpdatePermissionRequest(
      std::function<void(UpdatePermissionResponse)> reply) = 0;
  virtual void showUserInitiatedUpdateCheck(std::function<void()> cancellation) = 0;
  virtual void showUpdateFound(const AppcastItem& item, const UserUpdateState& state,
                               std::function<void(UserUpdateChoice)> reply) = 0;
  virtual void showUpdateReleaseNotes(const std::vector<std::uint8_t>& downloadData) = 0;
  virtual void showUpdateReleaseNotesFailedToDownload(const Error& error) = 0;
  virtual void showUpdateNotFound(const Error& error, std::function<void()> acknowledgement) = 0;
  virtual void showUpdaterError(const Error& error, std::function<void()> acknowledgement) = 0;
  virtual void showDownloadInitiated(std::function<void()> cancellation) = 0;
  virtual void showDownloadDidReceiveExpectedContentLength(std::uint64_t expectedContentLength) = 0;
  virtual void showDownloadDidReceiveData(std::uint64_t length) = 0;
  virtual void showDownloadDidStartExtractingUpdate() = 0;
  // A fraction, 0 to 1.
  virtual void showExtractionReceivedProgress(double progress) = 0;
  virtual void showReadyToInstallAndRelaunch(std::function<void(UserUpdateChoice)> reply) = 0;
  virtual void showInstallingUpdate(bool applicationTerminated,
                                    std::function<void()> retryTerminatingApplication) = 0;
  virtual void showUpdateInstalledAndRelaunched(bool relaunched,
                                                std::function<void()> acknowledgement) = 0;
  virtual void dismissUpdateInstallation() = 0;
  virtual void showUpdateInFocus() = 0;
};

// What the updater asks of its host beyond the driver.
class UpdaterDelegate {
 public:
  virtual ~UpdaterDelegate() = default;
  [[nodiscard]] virtual bool shouldDownloadReleaseNotes(const AppcastItem& item) = 0;
};

// The updater as the application drives it.
class Updater {
 public:
  virtual ~Updater() = default;
  // Reads the configuration and starts the scheduled checks; the error says why it
  // cannot run (no feed, no key, …). The updater stays usable either way.
  [[nodiscard]] virtual std::optional<Error> start() = 0;
  // A user-initiated check; results arrive through the driver.
  virtual void checkForUpdates() = 0;
  // False while a check, download or installation runs, and before start().
  [[nodiscard]] virtual bool canCheckForUpdates() const = 0;
};

}  // namespace zephro::update
