#include "platform/update/FeedUpdater.h"

#include <QCoro/QCoroSignal>
#include <QFile>
#include <QHostAddress>
#include <QNetworkReply>
#include <system_error>
#include <variant>

#include "platform/log/Log.h"
#include "platform/update/Appcast.h"
#include "platform/update/AppcastError.h"
#include "platform/update/ArchiveExtractor.h"
#include "platform/update/ArchiveVerifier.h"
#include "platform/update/Installation.h"
#include "platform/update/StagedTree.h"
#include "platform/update/TreeInstaller.h"
#include "platform/update/UpdateError.h"
#include "platform/update/UpdaterMemory.h"
#include "platform/update/VersionComparator.h"

namespace zephro::update {
namespace {

// Replies and acknowledgements the driver calls, or never does.
void ignore() {}

QNetworkRequest requestFor(const QUrl& url) {
  QNetworkRequest request(url);
  // A redirect may only go where the first address could have gone.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(5);
  return request;
}

std::string text(const QString& value) {
  return value.toStdString();
}

}  // namespace

bool isAllowedUpdateURL(const QUrl& url) {
  if (!url.isValid()) return false;
  if (url.scheme() == QLatin1String("https")) return true;
  if (url.scheme() != QLatin1String("http")) return false;
  const QHostAddress host(url.host());
  return url.host() == QLatin1String("localhost") || (!host.isNull() && host.isLoopback());
}

FeedUpdater::FeedUpdater(Configuration configuration, UpdaterHost host,
                         std::shared_ptr<UserDriver> driver, UpdaterDelegate& delegate,
                         QObject* parent)
    : QObject(parent),
      configuration_(std::move(configuration)),
      host_(std::move(host)),
      driver_(std::move(driver)),
      delegate_(delegate) {
  schedule_.setSingleShot(false);
  connect(&schedule_, &QTimer::timeout, this, [this] {
    if (canCheckForUpdates()) run(check(false));
  });
}

FeedUpdater::~FeedUpdater() = default;

std::optional<Error> FeedUpdater::start() {
  if (const auto problem = configuration_.problem()) {
    return updateError(UpdateErrorCode::configuration, *problem);
  }
  started_ = true;
  auto memory = UpdaterMemory::load(host_.stateFile);
  if (memory.automaticChecks) {
    scheduleChecks();
    return std::nullopt;
  }
  // Asked once; the answer is kept and decides the scheduled checks from then on.
  const QPointer<FeedUpdater> self(this);
  driver_->showUpdatePermissionRequest([self](UpdatePermissionResponse response) {
    if (!self) return;
    self->guarded([&self, response] {
      auto answered = UpdaterMemory::load(self->host_.stateFile);
      answered.automaticChecks = response.automaticUpdateChecks;
      if (!answered.save(self->host_.stateFile)) {
        log::write("[Zephro] The updater could not remember its permission in " +
                   self->host_.stateFile.string() + ".");
      }
      self->scheduleChecks();
    });
  });
  return std::nullopt;
}

void FeedUpdater::scheduleChecks() {
  const auto memory = UpdaterMemory::load(host_.stateFile);
  if (!configuration_.automaticChecks || !memory.automaticChecks.value_or(false)) return;
  schedule_.start(
      std::chrono::duration_cast<std::chrono::milliseconds>(configuration_.checkInterval));
}

void FeedUpdater::checkForUpdates() {
  if (!canCheckForUpdates()) return;
  run(check(true));
}

bool FeedUpdater::canCheckForUpdates() const {
  return started_ && !busy_;
}

QCoro::Task<> FeedUpdater::check(bool userInitiated) {
  busy_ = true;
  if (userInitiated) driver_->showUserInitiatedUpdateCheck(ignore);
  co_await fetchFeed(userInitiated);
}

QCoro::Task<> FeedUpdater::fetchFeed(bool userInitiated) {
  const QPointer<FeedUpdater> self(this);
  const QUrl feed(QString::fromStdString(configuration_.feedURL));
  if (!isAllowedUpdateURL(feed)) {
    fail(updateError(UpdateErrorCode::appcast,
                     "The update feed " + configuration_.feedURL + " is not an HTTPS address."));
    co_return;
  }
  std::unique_ptr<QNetworkReply> reply(network_.get(requestFor(feed)));
  auto* raw = reply.get();
  connect(raw, &QNetworkReply::downloadProgress, raw, [raw](qint64 received, qint64) {
    if (static_cast<std::uint64_t>(received) > kMaxFeedSize) raw->abort();
  });
  co_await qCoro(raw, &QNetworkReply::finished);
  if (!self) co_return;
  if (raw->error() != QNetworkReply::NoError) {
    fail(updateError(UpdateErrorCode::appcast,
                     "The update feed could not be read: " + text(raw->errorString())));
    co_return;
  }
  const QByteArray body = raw->readAll();
  std::vector<AppcastItem> items;
  try {
    items = parseAppcast(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
  } catch (const AppcastError& error) {
    fail(updateError(UpdateErrorCode::appcast, error.what()));
    co_return;
  }
  const auto best = bestItem(items, host_.runningVersion);
  if (!best) {
    driver_->showUpdateNotFound(updateError(UpdateErrorCode::noUpdate, "You're up to date!"),
                                ignore);
    finish();
    co_return;
  }
  offer(*best, userInitiated);
}

void FeedUpdater::offer(const AppcastItem& item, bool userInitiated) {
  auto memory = UpdaterMemory::load(host_.stateFile);
  if (!memory.highestOfferedVersion.empty() &&
      std::is_lt(compareVersions(item.versionString, memory.highestOfferedVersion))) {
    fail(updateError(UpdateErrorCode::downgrade,
                     "The feed offers version " + item.versionString + ", older than version " +
                         memory.highestOfferedVersion + " it offered before; it was refused."));
    return;
  }
  memory.highestOfferedVersion = item.versionString;
  if (!memory.save(host_.stateFile)) {
    log::write("[Zephro] The updater could not remember the version offered in " +
               host_.stateFile.string() + ".");
  }
  const QPointer<FeedUpdater> self(this);
  driver_->showUpdateFound(
      item, UserUpdateState{userInitiated}, [self, item](UserUpdateChoice choice) {
        if (!self) return;
        if (choice != UserUpdateChoice::install || item.isInformationOnlyUpdate()) {
          self->finish();
          return;
        }
        self->run(self->download(item));
      });
}

QCoro::Task<> FeedUpdater::download(AppcastItem item) {
  const QPointer<FeedUpdater> self(this);
  const auto& enclosure = *item.enclosure;
  const QUrl url(QString::fromStdString(enclosure.url));
  if (!isAllowedUpdateURL(url)) {
    fail(updateError(UpdateErrorCode::download,
                     "The update archive " + enclosure.url + " is not an HTTPS address."));
    co_return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(host_.workDirectory, ignored);
  std::filesystem::create_directories(host_.workDirectory, ignored);
  const auto archivePath = host_.workDirectory / url.fileName().toStdString();
  QFile archive(QString::fromStdString(archivePath.string()));
  if (url.fileName().isEmpty() || !archive.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    fail(updateError(UpdateErrorCode::download,
                     "The update cannot be saved in " + host_.workDirectory.string() + "."));
    co_return;
  }
  const std::uint64_t limit =
      enclosure.length > 0 ? std::min(enclosure.length, kMaxArchiveSize) : kMaxArchiveSize;
  driver_->showDownloadInitiated(ignore);

  std::unique_ptr<QNetworkReply> reply(network_.get(requestFor(url)));
  auto* raw = reply.get();
  std::uint64_t received = 0;
  bool tooLarge = false;
  bool announced = false;
  connect(raw, &QNetworkReply::metaDataChanged, raw, [&, raw] {
    const auto length = raw->header(QNetworkRequest::ContentLengthHeader);
    if (announced || !length.isValid()) return;
    announced = true;
    driver_->showDownloadDidReceiveExpectedContentLength(length.toULongLong());
  });
  connect(raw, &QNetworkReply::readyRead, raw, [&, raw] {
    const QByteArray chunk = raw->readAll();
    received += static_cast<std::uint64_t>(chunk.size());
    if (received > limit) {
      tooLarge = true;
      raw->abort();
      return;
    }
    archive.write(chunk);
    driver_->showDownloadDidReceiveData(static_cast<std::uint64_t>(chunk.size()));
  });
  co_await qCoro(raw, &QNetworkReply::finished);
  if (!self) co_return;
  archive.close();
  if (tooLarge) {
    fail(updateError(UpdateErrorCode::download, "The update archive is larger than announced (" +
                                                    std::to_string(limit) + " bytes)."));
    co_return;
  }
  if (raw->error() != QNetworkReply::NoError) {
    fail(updateError(UpdateErrorCode::download,
                     "The update could not be downloaded: " + text(raw->errorString())));
    co_return;
  }
  prepare(item, archivePath);
}

void FeedUpdater::prepare(const AppcastItem& item, const std::filesystem::path& archive) {
  // Nothing reads the archive's content before its signature holds, and what is extracted
  // is the bytes that were checked: the file is not opened again.
  const auto verified =
      verifyArchive(archive, item.enclosure->edSignature, configuration_.publicEDKey);
  if (const Error* bad = std::get_if<Error>(&verified)) {
    fail(*bad);
    return;
  }
  driver_->showDownloadDidStartExtractingUpdate();
  const auto staging = host_.workDirectory / "staged";
  if (const auto bad = extractArchive(
          std::get<std::vector<std::uint8_t>>(verified), staging,
          [this](double progress) { driver_->showExtractionReceivedProgress(progress); })) {
    fail(*bad);
    return;
  }
  if (const auto bad = checkStagedTree(staging, item, host_.runningVersion)) {
    std::error_code ignored;  // the work folder is emptied before the next download anyway
    std::filesystem::remove_all(staging, ignored);
    fail(*bad);
    return;
  }
  staged_ = staging;
  stagedVersion_ = item.versionString;
  // Waiting for the user is not work in progress: a check may run meanwhile.
  finish();
  const QPointer<FeedUpdater> self(this);
  driver_->showReadyToInstallAndRelaunch([self](UserUpdateChoice choice) {
    if (!self) return;
    self->guarded([&self, choice] {
      if (choice == UserUpdateChoice::install) {
        self->install();
      } else {
        self->finish();
      }
    });
  });
}

void FeedUpdater::install() {
  driver_->showInstallingUpdate(false, ignore);
  const auto installation = Installation::of(host_.executable);
  if (installation.kind != Installation::Kind::managed) {
    fail(updateError(UpdateErrorCode::installation, installation.whereToUpdate()));
    return;
  }
  if (const auto bad = installVersion(staged_, installation.root(), stagedVersion_)) {
    fail(*bad);
    return;
  }
  const std::vector<std::string> relaunch{installation.launchPath().string()};
  const auto launch = host_.launch;
  host_.quit([launch, relaunch] { launch(relaunch); });
}

void FeedUpdater::run(QCoro::Task<> task) {
  finishing(QPointer<FeedUpdater>(this), std::move(task));
}

QCoro::Task<> FeedUpdater::finishing(QPointer<FeedUpdater> self, QCoro::Task<> task) {
  std::optional<std::string> escaped;
  try {
    co_await task;
  } catch (const std::exception& error) {
    escaped = error.what();
  } catch (...) {
    escaped = "an unknown exception";
  }
  if (escaped && self) self->stopped(*escaped);
}

void FeedUpdater::guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& error) {
    stopped(error.what());
  } catch (...) {
    stopped("an unknown exception");
  }
}

void FeedUpdater::stopped(const std::string& what) {
  fail(updateError(UpdateErrorCode::unexpected, "The update stopped: " + what + "."));
}

void FeedUpdater::fail(const Error& error) {
  // Free first: whatever the driver does with the error, a new check can start.
  finish();
  log::write("[Zephro] Update failed: " + error.fullDescription());
  driver_->showUpdaterError(error, ignore);
}

void FeedUpdater::finish() {
  busy_ = false;
}

}  // namespace zephro::update
