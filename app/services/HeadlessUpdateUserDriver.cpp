#include "app/services/HeadlessUpdateUserDriver.h"

#include <utility>

#include "app/services/AppUpdateManager.h"

namespace zephro {

namespace {

// The updater promises its blocks, but an empty one must not take the application down.
template <typename Block, typename... Arguments>
void call(const Block& block, Arguments&&... arguments) {
  if (block) block(std::forward<Arguments>(arguments)...);
}

}  // namespace

HeadlessUpdateUserDriver::HeadlessUpdateUserDriver(AppUpdateManager& owner) : owner_(&owner) {}

AppUpdateManager* HeadlessUpdateUserDriver::owner() const {
  AppUpdateManager* const manager = owner_.data();
  return manager != nullptr && !manager->shuttingDown_ ? manager : nullptr;
}

void HeadlessUpdateUserDriver::showUpdatePermissionRequest(
    std::function<void(update::UpdatePermissionResponse)> reply) {
  // Scheduled checks are granted without asking; nothing about the machine is sent.
  call(reply,
       update::UpdatePermissionResponse{.automaticUpdateChecks = true, .sendSystemProfile = false});
}

void HeadlessUpdateUserDriver::showUserInitiatedUpdateCheck(
    std::function<void()> /*cancellation*/) {
  if (auto* manager = owner()) manager->setState(AppUpdateState::checking());
}

void HeadlessUpdateUserDriver::showUpdateFound(
    const update::AppcastItem& item, const update::UserUpdateState& state,
    std::function<void(update::UserUpdateChoice)> reply) {
  // With nobody left to install, downloading would only waste the user's bandwidth.
  auto* manager = owner();
  call(reply, manager != nullptr ? manager->handleFoundUpdate(item, state)
                                 : update::UserUpdateChoice::dismiss);
}

void HeadlessUpdateUserDriver::showUpdateReleaseNotes(
    const std::vector<std::uint8_t>& /*downloadData*/) {}

void HeadlessUpdateUserDriver::showUpdateReleaseNotesFailedToDownload(const Error& /*error*/) {}

void HeadlessUpdateUserDriver::showUpdateNotFound(const Error& /*error*/,
                                                  std::function<void()> acknowledgement) {
  if (auto* manager = owner()) manager->setState(AppUpdateState::upToDate());
  call(acknowledgement);
}

void HeadlessUpdateUserDriver::showUpdaterError(const Error& error,
                                                std::function<void()> acknowledgement) {
  if (auto* manager = owner()) manager->handleError(error);
  call(acknowledgement);
}

void HeadlessUpdateUserDriver::showDownloadInitiated(std::function<void()> /*cancellation*/) {
  if (auto* manager = owner()) manager->beginDownload();
}

void HeadlessUpdateUserDriver::showDownloadDidReceiveExpectedContentLength(
    std::uint64_t expectedContentLength) {
  if (auto* manager = owner()) manager->setExpectedDownloadLength(expectedContentLength);
}

void HeadlessUpdateUserDriver::showDownloadDidReceiveData(std::uint64_t length) {
  if (auto* manager = owner()) manager->addDownloadedLength(length);
}

void HeadlessUpdateUserDriver::showDownloadDidStartExtractingUpdate() {
  if (auto* manager = owner()) manager->setExtractionProgress(0.0);
}

void HeadlessUpdateUserDriver::showExtractionReceivedProgress(double progress) {
  if (auto* manager = owner()) manager->setExtractionProgress(progress);
}

void HeadlessUpdateUserDriver::showReadyToInstallAndRelaunch(
    std::function<void(update::UserUpdateChoice)> reply) {
  if (auto* manager = owner()) manager->holdInstallReply(std::move(reply));
}

void HeadlessUpdateUserDriver::showInstallingUpdate(
    bool /*applicationTerminated*/, std::function<void()> /*retryTerminatingApplication*/) {
  if (auto* manager = owner()) manager->setState(AppUpdateState::installing());
}

void HeadlessUpdateUserDriver::showUpdateInstalledAndRelaunched(
    bool /*relaunched*/, std::function<void()> acknowledgement) {
  call(acknowledgement);
}

void HeadlessUpdateUserDriver::dismissUpdateInstallation() {}

void HeadlessUpdateUserDriver::showUpdateInFocus() {}

}  // namespace zephro
