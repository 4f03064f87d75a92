#include "app/presets/Preset.h"

namespace zephro {

QString rawValue(PresetMode mode) {
  return mode == PresetMode::rpm ? QStringLiteral("rpm") : QStringLiteral("percentage");
}

std::optional<PresetMode> presetModeFromRaw(const QString& raw) {
  for (const PresetMode mode : allPresetModes) {
    if (rawValue(mode) == raw) return mode;
  }
  return std::nullopt;
}

QString Preset::idText() const {
  return uuidText(id);
}

QString uuidText(const QUuid& id) {
  return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromText(const QString& text) {
  if (text.size() != 36) return std::nullopt;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
    const char16_t c = text.at(i).unicode();
    const bool hex =
        (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (hyphenPlace ? c != u'-' : !hex) return std::nullopt;
  }
  return QUuid::fromString(text);
}

}  // namespace zephro
