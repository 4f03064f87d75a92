#include "app/services/AppUpdateState.h"

#include <QMetaEnum>

namespace zephro {

AppUpdateState AppUpdateState::updateAvailable(QString version) {
  AppUpdateState state(Kind::updateAvailable);
  state.version_ = std::move(version);
  return state;
}

AppUpdateState AppUpdateState::downloading(QString version, std::optional<double> progress) {
  AppUpdateState state(Kind::downloading);
  state.version_ = std::move(version);
  state.progress_ = progress;
  return state;
}

AppUpdateState AppUpdateState::readyToInstall(QString version) {
  AppUpdateState state(Kind::readyToInstall);
  state.version_ = std::move(version);
  return state;
}

AppUpdateState AppUpdateState::error(QString message) {
  AppUpdateState state(Kind::error);
  state.message_ = std::move(message);
  return state;
}

QString AppUpdateState::description() const {
  QString text =
      QString::fromLatin1(QMetaEnum::fromType<Kind>().valueToKey(static_cast<int>(kind_)));
  if (!version_.isEmpty()) text += u' ' + version_;
  if (progress_) text += u' ' + QString::number(*progress_ * 100.0) + u'%';
  if (kind_ == Kind::error) text += QStringLiteral(": ") + message_;
  return text;
}

}  // namespace zephro
