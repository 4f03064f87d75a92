#include "app/intents/ZephroIntentError.h"

#include "app/ui/LocalizationManager.h"
#include "app/ui/LocalizedFormat.h"

namespace zephro {
namespace {

struct Names {
  const char* descriptionKey;
  const char* busName;
};

Names namesOf(ZephroIntentError::Kind kind) {
  switch (kind) {
    case ZephroIntentError::Kind::presetNotFound:
      return {"intent_error_preset_not_found", "com.zephro.Intents1.Error.PresetNotFound"};
    case ZephroIntentError::Kind::appNotReady:
      return {"intent_error_app_not_ready", "com.zephro.Intents1.Error.AppNotReady"};
    case ZephroIntentError::Kind::helperUnreachable:
      return {"intent_error_helper_unreachable", "com.zephro.Intents1.Error.HelperUnreachable"};
  }
  return {"", ""};
}

}  // namespace

ZephroIntentError::ZephroIntentError(Kind kind, QString presetName)
    : std::runtime_error(namesOf(kind).descriptionKey),
      kind_(kind),
      presetName_(std::move(presetName)) {}

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
  QString text = localization.string(QString::fromLatin1(namesOf(kind_).descriptionKey));
  if (kind_ != Kind::presetNotFound) return text;
  return localizedFormat(text, presetName_);
}

QString ZephroIntentError::busErrorName() const {
  return QString::fromLatin1(namesOf(kind_).busName);
}

}  // namespace zephro
