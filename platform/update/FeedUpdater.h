#pragma once

#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/update/AppcastItem.h"
#include "platform/update/Configuration.h"
#include "platform/update/UpdaterHost.h"
#include "platform/update/UserDriver.h"

namespace zephro::update {

// The updater: reads an appcast feed over HTTPS, downloads the newest item's archive,
// checks its Ed25519 signature before anything else touches it, extracts it into a
// staging folder and, once the user agrees, puts it in place of the running
// application's tree and relaunches through the application's quit path. Everything
// it shows goes through the user driver, on the main thread.
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
};

// Whether the updater may fetch from this address: HTTPS, or plain HTTP to this
// machine only (tests and the demo serve on loopback).
[[nodiscard]] bool isAllowedUpdateURL(const QUrl& url);

}  // namespace zephro::update
