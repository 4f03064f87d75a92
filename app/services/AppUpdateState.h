#pragma once

#include <QtQml/qqmlregistration.h>
#include <QMetaType>
#include <QString>
#include <optional>

namespace zephro {

// Where checking for, downloading and installing an update stand, as the popover's update
// row shows it. A value: two states are equal when their kind and every payload are equal.
class AppUpdateState {
  Q_GADGET
  QML_VALUE_TYPE(appUpdateState)
  /// Which of the eight cases this is.
  Q_PROPERTY(Kind kind READ kind CONSTANT)
  /// The version found, in updateAvailable, downloading and readyToInstall; empty otherwise.
  Q_PROPERTY(QString version READ version CONSTANT)
  /// What failed, in the error state; empty otherwise.
  Q_PROPERTY(QString message READ message CONSTANT)

 public:
  enum class Kind {
    updateAvailable,  // a newer version was found; its download has been asked for
    downloading,      // the archive is being downloaded or extracted
    readyToInstall,   // downloaded and extracted; installation waits for the user
    error,            // the last check, download or installation failed
    idle,             // no check has run yet
    checking,         // a check runs
    upToDate,         // the last check found nothing newer
    installing,       // the installer runs; the application quits and comes back
  };
  Q_ENUM(Kind)

  // idle.
  AppUpdateState() = default;

  [[nodiscard]] static AppUpdateState updateAvailable(QString version);
  // No progress means the size is not known yet.
  [[nodiscard]] static AppUpdateState downloading(QString version,
                                                  std::optional<double> progress = std::nullopt);
  [[nodiscard]] static AppUpdateState readyToInstall(QString version);
  [[nodiscard]] static AppUpdateState error(QString message);
  [[nodiscard]] static AppUpdateState idle() { return {}; }
  [[nodiscard]] static AppUpdateState checking() { return AppUpdateState(Kind::checking); }
  [[nodiscard]] static AppUpdateState upToDate() { return AppUpdateState(Kind::upToDate); }
  [[nodiscard]] static AppUpdateState installing() { return AppUpdateState(Kind::installing); }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] const QString& version() const { return version_; }
  [[nodiscard]] std::optional<double> progress() const { return progress_; }
  [[nodiscard]] const QString& message() const { return message_; }

  // "downloading 2.1 42%", "error: <message>", ... for logs and test failures.
  [[nodiscard]] QString description() const;

  friend bool operator==(const AppUpdateState&, const AppUpdateState&) = default;

 private:
  explicit AppUpdateState(Kind kind) : kind_(kind) {}

  Kind kind_ = Kind::idle;
  QString version_;
  std::optional<double> progress_;
  QString message_;
};

}  // namespace zephro
