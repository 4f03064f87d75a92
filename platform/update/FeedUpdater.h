#pragma once

#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/update/AppcastItem.h"
#include "platform/update/Configuration.h"
#include "platform/update/UpdaterHost.h"
#include "platform/update/UserDriver.h"

namespace zephro::update {

// The updater: reads an appcast feed over HTTPS, downloads the newest item's archive,
// checks its Ed25519 signature before anything else touches it, extracts those very bytes
// into a staging folder, checks that the tree is the version offered and, once the user
// agrees, installs it beside the running version and relaunches through the application's
// quit path. Only a tree the updater laid out itself is ever replaced; any other
// installation still gets checks and downloads, and installing says where to update it.
// Every step ends, whatever it throws, in the driver's error or in the next step.
// Everything it shows goes through the user driver, on the main thread.
class FeedUpdater final : public QObject, public Updater {
  Q_OBJECT

 public:
  // Past this an archive or a feed is refused, whatever the feed announces.
  static constexpr std::uint64_t kMaxArchiveSize = std::uint64_t{512} * 1024 * 1024;
  static constexpr std::uint64_t kMaxFeedSize = std::uint64_t{4} * 1024 * 1024;

  FeedUpdater(Configuration configuration, UpdaterHost host, std::shared_ptr<UserDriver> driver,
              UpdaterDelegate& delegate, QObject* parent = nullptr);
  ~FeedUpdater() override;

  [[nodiscard]] std::optional<Error> start() override;
  void checkForUpdates() override;
  [[nodiscard]] bool canCheckForUpdates() const override;

 private:
  [[nodiscard]] QCoro::Task<> check(bool userInitiated);
  [[nodiscard]] QCoro::Task<> fetchFeed(bool userInitiated);
  void offer(const AppcastItem& item, bool userInitiated);
  [[nodiscard]] QCoro::Task<> download(AppcastItem item);
  void prepare(const AppcastItem& item, const std::filesystem::path& archive);
  void install();
  // Runs a task nobody awaits; what escapes it ends the update as a failure.
  void run(QCoro::Task<> task);
  static QCoro::Task<> finishing(QPointer<FeedUpdater> self, QCoro::Task<> task);
  // Runs a step called from outside (a reply); what it throws ends the update as a failure.
  void guarded(const std::function<void()>& step);
  void stopped(const std::string& what);
  void fail(const Error& error);
  void finish();
  void scheduleChecks();

  Configuration configuration_;
  UpdaterHost host_;
  std::shared_ptr<UserDriver> driver_;
  UpdaterDelegate& delegate_;
  QNetworkAccessManager network_;
  QTimer schedule_;
  bool started_ = false;
  bool busy_ = false;
  std::filesystem::path staged_;
  std::string stagedVersion_;
};

// Whether the updater may fetch from this address: HTTPS, or plain HTTP to this
// machine only (tests and the demo serve on loopback).
[[nodiscard]] bool isAllowedUpdateURL(const QUrl& url);

}  // namespace zephro::update
