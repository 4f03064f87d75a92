#include "app/services/AppUpdateManager.h"

#include <QDesktopServices>
#include <algorithm>
#include <utility>

#include "app/services/HeadlessUpdateUserDriver.h"
#include "app/ui/LocalizationManager.h"

namespace zephro {

namespace {

using Kind = AppUpdateState::Kind;

// A feed's link opens in the browser, so only a web address is followed: a feed is not
// signed, and a file: or custom-scheme link would do something other than show a page.
std::optional<QUrl> webAddress(const std::optional<std::string>& link) {
  if (!link) return std::nullopt;
  const QUrl url(QString::fromStdString(*link), QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.host().isEmpty() ||
      (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
    return std::nullopt;
  }
  return url;
}

}  // namespace

AppUpdateManager::AppUpdateManager(const UpdaterFactory& makeUpdater,
                                   LocalizationManager& localization, UrlOpener openUrl,
                                   QObject* parent)
    : QObject(parent),
      localization_(localization),
      openUrl_(openUrl ? std::move(openUrl) : UrlOpener(openInBrowser)),
      driver_(std::make_shared<HeadlessUpdateUserDriver>(*this)),
      updater_(makeUpdater(driver_, *this)) {
  Q_ASSERT_X(updater_ != nullptr, "AppUpdateManager", "the factory made no updater");
  connect(&localization_, &LocalizationManager::languageChanged, this,
          &AppUpdateManager::updateRowLabelChanged);
  if (const auto error = updater_->start()) {
    setState(AppUpdateState::error(QString::fromStdString(error->localizedDescription())));
  }
}

AppUpdateManager::~AppUpdateManager() {
  shuttingDown_ = true;
}

void AppUpdateManager::openInBrowser(const QUrl& url) {
  QDesktopServices::openUrl(url);
}

bool AppUpdateManager::shouldDownloadReleaseNotes(const update::AppcastItem& /*item*/) {
  return false;
}

QString AppUpdateManager::updateRowLabel() const {
  switch (state_.kind()) {
    case Kind::idle:
      return localization_.string(QStringLiteral("popover_check_for_updates"));
    case Kind::checking:
      return localization_.string(QStringLiteral("popover_checking_for_updates"));
    case Kind::upToDate:
      return localization_.string(QStringLiteral("popover_up_to_date"));
    case Kind::updateAvailable:
      return localization_.format(QStringLiteral("popover_update_available"), {state_.version()});
    case Kind::downloading:
      if (const auto progress = state_.progress()) {
        return localization_.format(QStringLiteral("popover_downloading_update_progress"),
                                    {static_cast<int>(*progress * 100.0)});
      }
      return localization_.string(QStringLiteral("popover_downloading_update"));
    case Kind::readyToInstall:
      return localization_.format(QStringLiteral("popover_update_now"), {state_.version()});
    case Kind::error:
      // The message is for logs and support; the row only offers to try again.
      return localization_.string(QStringLiteral("popover_update_failed"));
    case Kind::installing:
      return localization_.string(QStringLiteral("popover_installing_update"));
  }
  return {};
}

void AppUpdateManager::checkForUpdates() {
  switch (state_.kind()) {
    case Kind::idle:
    case Kind::upToDate:
    case Kind::error:
    case Kind::readyToInstall:
      break;
    case Kind::updateAvailable:
    case Kind::downloading:
    case Kind::checking:
    case Kind::installing:
      return;
  }
  if (!updater_->canCheckForUpdates()) return;
  // Shown first: the updater may report its first step before it returns.
  setState(AppUpdateState::checking());
  updater_->checkForUpdates();
}

void AppUpdateManager::installUpdate() {
  if (state_.kind() != Kind::readyToInstall || !readyInstallReply_) return;
  // Taken out first, so the reply runs once even if the updater reports back from inside it.
  const auto reply = std::exchange(readyInstallReply_, nullptr);
  setState(AppUpdateState::installing());
  reply(update::UserUpdateChoice::install);
}

void AppUpdateManager::rowActivated() {
  if (state_.kind() == Kind::readyToInstall) {
    installUpdate();
  } else {
    checkForUpdates();
  }
}

void AppUpdateManager::setState(AppUpdateState state) {
  if (state == state_) return;
  state_ = std::move(state);
  emit stateChanged();
  emit updateRowLabelChanged();
}

update::UserUpdateChoice AppUpdateManager::handleFoundUpdate(const update::AppcastItem& item,
                                                             const update::UserUpdateState& state) {
  if (item.isInformationOnlyUpdate()) {
    // Only news, with nothing to download: the page is shown only to a user who asked,
    // never out of the blue by a scheduled check.
    if (state.userInitiated) {
      if (const auto address = webAddress(item.infoURL)) openUrl_(*address);
    }
    setState(AppUpdateState::upToDate());
    return update::UserUpdateChoice::dismiss;
  }
  updateVersion_ = QString::fromStdString(item.displayVersionString);
  setState(AppUpdateState::updateAvailable(version()));
  return update::UserUpdateChoice::install;
}

void AppUpdateManager::handleError(const Error& error) {
  // A failure after ready-to-install ends that installation; a new check starts over.
  readyInstallReply_ = nullptr;
  setState(AppUpdateState::error(QString::fromStdString(error.localizedDescription())));
}

void AppUpdateManager::beginDownload() {
  expectedDownloadLength_ = 0;
  downloadedLength_ = 0;
  setState(AppUpdateState::downloading(version()));
}

void AppUpdateManager::setExpectedDownloadLength(std::uint64_t length) {
  expectedDownloadLength_ = length;
  showDownloadProgress();
}

void AppUpdateManager::addDownloadedLength(std::uint64_t length) {
  downloadedLength_ += length;
  showDownloadProgress();
}

void AppUpdateManager::showDownloadProgress() {
  if (expectedDownloadLength_ == 0) {
    setState(AppUpdateState::downloading(version()));
    return;
  }
  // A server may send more than it announced; the row never shows more than 100 %.
  const double progress = std::min(
      1.0, static_cast<double>(downloadedLength_) / static_cast<double>(expectedDownloadLength_));
  setState(AppUpdateState::downloading(version(), progress));
}

void AppUpdateManager::setExtractionProgress(double progress) {
  // Written as comparisons rather than std::clamp so that a NaN becomes 0 too.
  if (!(progress > 0.0)) progress = 0.0;
  if (progress > 1.0) progress = 1.0;
  setState(AppUpdateState::downloading(version(), progress));
}

void AppUpdateManager::holdInstallReply(std::function<void(update::UserUpdateChoice)> reply) {
  // An earlier reply is released uncalled: only the newest download may be installed.
  readyInstallReply_ = std::move(reply);
  setState(AppUpdateState::readyToInstall(version()));
}

}  // namespace zephro
