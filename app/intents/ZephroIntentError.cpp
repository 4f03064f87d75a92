#include "app/intents/ZephroIntentError.h"

#include "app/ui/LocalizationManager.h"
#include "app/ui/LocalizedFormat.h"

namespace zephro {
namespace {

const char* descriptionKey(ZephroIntentError::Kind kind) {
  switch (kind) {
    case ZephroIntentError::Kind::presetNotFound:
      return "intent_error_preset_not_found";
    case ZephroIntentError::Kind::appNotReady:
      return "intent_error_app_not_ready";
    case ZephroIntentError::Kind::helperUnreachable:
      return "intent_error_helper_unreachable";
  }
  return "";
}

const char* busName(ZephroIntentError::Kind kind) {
  switch (kind) {
    case ZephroIntentError::Kind::presetNotFound:
      return "com.zephro.Intents1.Error.PresetNotFound";
    case ZephroIntentError::Kind::appNotReady:
      return "com.zephro.Intents1.Error.AppNotReady";
    case ZephroIntentError::Kind::helperUnreachable:
      return "com.zephro.Intents1.Error.HelperUnreachable";
  }
  return "";
}

}  // namespace

ZephroIntentError::ZephroIntentError(Kind kind, QString presetName)
    : std::runtime_error(descriptionKey(kind)), kind_(kind), presetName_(std::move(presetName)) {}

ZephroIntentError ZephroIntentError::presetNotFound(QString name) {
  return {Kind::presetNotFound, std::move(name)};
}

ZephroIntentError ZephroIntentError::appNotReady() {
  return {Kind::appNotReady, {}};
}

ZephroIntentError ZephroIntentError::helperUnreachable() {
  return {Kind::helperUnreachable, {}};
}

QString ZephroIntentError::localizedDescription(const LocalizationManager& localization) const {
  QString text = localization.string(QString::fromLatin1(descriptionKey(kind_)));
  if (kind_ != Kind::presetNotFound) return text;
  return localizedFormat(text, presetName_);
}

QString ZephroIntentError::busErrorName() const {
  return QString::fromLatin1(busName(kind_));
}

}  // namespace zephro
