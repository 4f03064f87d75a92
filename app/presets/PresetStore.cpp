#include "app/presets/PresetStore.h"

#include "app/presets/PresetCodec.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

namespace zephro {
namespace {

const QString kPresetsKey = QString::fromLatin1(defaults::fanPresets.name);
const QString kBackupKey = QString::fromLatin1(defaults::fanPresetsBackup.name);

// The bytes of whatever is stored under the key, whatever its type.
QByteArray storedBytes(const QVariant& value) {
  if (value.typeId() == QMetaType::QByteArray) return value.toByteArray();
  if (value.typeId() == QMetaType::Bool) return value.toBool() ? "true" : "false";
  return value.toString().toUtf8();
}

DecodedPresets readPresets(const UserDefaults& defaults) {
  if (const auto data = defaults.data(kPresetsKey)) return decodePresets(*data);
  DecodedPresets nothing;
  if (defaults.object(kPresetsKey).isValid()) nothing.problem = QStringLiteral("not a data value");
  return nothing;
}

}  // namespace

PresetStore::PresetStore(UserDefaults& defaults, QObject* parent)
    : QObject(parent), defaults_(defaults) {
  defaults_.remove(QString::fromLatin1(defaults::activePresetID));
  presets_ = readStoredPresetsKeepingBackup();
  save();
}

QList<Preset> PresetStore::readStoredPresetsKeepingBackup() {
  DecodedPresets decoded = readPresets(defaults_);
  if (decoded.isComplete()) return std::move(decoded.presets);

  defaults_.setData(kBackupKey, storedBytes(defaults_.object(kPresetsKey)));
  const QString line =
      decoded.entryCount > 0
          ? QStringLiteral(
                "[Zephro] Dropped %1 of %2 stored presets that could not be read (%3); "
                "the original data is kept under \"%4\"")
                .arg(decoded.droppedCount())
                .arg(decoded.entryCount)
                .arg(*decoded.problem, kBackupKey)
          : QStringLiteral(
                "[Zephro] Stored presets could not be read (%1); the original data is "
                "kept under \"%2\"")
                .arg(*decoded.problem, kBackupKey);
  log::write(line.toStdString());
  return std::move(decoded.presets);
}

void PresetStore::setPresets(QList<Preset> presets) {
  const bool changed = presets != presets_;
  presets_ = std::move(presets);
  save();
  if (changed) emit presetsChanged();
}

QString PresetStore::activePresetIDText() const {
  return activePresetID_ ? uuidText(*activePresetID_) : QString();
}

void PresetStore::setActivePresetID(std::optional<QUuid> id) {
  if (id == activePresetID_) return;
  activePresetID_ = id;
  emit activePresetIDChanged();
}

void PresetStore::add(const Preset& preset) {
  QList<Preset> presets = presets_;
  presets.append(preset);
  setPresets(std::move(presets));
}

void PresetStore::update(const Preset& preset) {
  const auto it = std::find_if(presets_.cbegin(), presets_.cend(),
                               [&preset](const Preset& stored) { return stored.id == preset.id; });
  if (it == presets_.cend()) return;
  QList<Preset> presets = presets_;
  presets[std::distance(presets_.cbegin(), it)] = preset;
  setPresets(std::move(presets));
}

void PresetStore::deletePreset(const QUuid& id) {
  if (activePresetID_ == id) setActivePresetID(std::nullopt);
  QList<Preset> presets = presets_;
  presets.removeIf([&id](const Preset& preset) { return preset.id == id; });
  setPresets(std::move(presets));
}

void PresetStore::save() {
  defaults_.setData(kPresetsKey, encodePresets(presets_));
  emit entitiesChanged();
}

QList<Preset> PresetStore::loadStoredPresets(const UserDefaults& defaults) {
  return readPresets(defaults).presets;
}

QList<Preset> PresetStore::loadStoredPresets() {
  return loadStoredPresets(UserDefaults::standard());
}

}  // namespace zephro
