#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <optional>

#include "app/presets/Preset.h"

namespace zephro {

class UserDefaults;

// Owns the preset list and keeps it stored under "fanPresets": every change of
// the list is written before the call returns. Also holds which preset is in
// force, which the view model sets and clears and which is never stored.
// Main thread only.
class PresetStore : public QObject {
  Q_OBJECT
  /// All presets in display order (order of creation).
  Q_PROPERTY(QList<Preset> presets READ presets WRITE setPresets NOTIFY presetsChanged)
  /// The id of the preset in force as upper-case UUID text; empty when none.
  Q_PROPERTY(QString activePresetID READ activePresetIDText NOTIFY activePresetIDChanged)

 public:
  // Clears "activePresetID", reads the stored list and writes it back at once.
  // When stored data could not be read in full, the original bytes are first kept
  // under "fanPresetsBackup" and one line is logged, so the rewrite loses nothing.
  explicit PresetStore(UserDefaults& defaults, QObject* parent = nullptr);

  [[nodiscard]] const QList<Preset>& presets() const { return presets_; }
  // Every assignment is written, whether or not it changes the list.
  void setPresets(QList<Preset> presets);

  [[nodiscard]] std::optional<QUuid> activePresetID() const { return activePresetID_; }
  [[nodiscard]] QString activePresetIDText() const;
  void setActivePresetID(std::optional<QUuid> id);

  // Appends the preset and saves.
  void add(const Preset& preset);
  // Replaces the first preset with the same id in place and saves; an unknown id
  // changes and writes nothing.
  void update(const Preset& preset);
  // Clears the active mark when it names this id, removes every preset with it and
  // saves, even when none matched. (`delete` is a C++ keyword.)
  void deletePreset(const QUuid& id);
  // Writes the list under "fanPresets", then announces entitiesChanged().
  void save();

  // The stored list as last saved, every readable entry of it; used without a
  // store by the automation layer.
  [[nodiscard]] static QList<Preset> loadStoredPresets(const UserDefaults& defaults);
  // The same from the application's standard defaults.
  [[nodiscard]] static QList<Preset> loadStoredPresets();

 signals:
  void presetsChanged();
  void activePresetIDChanged();
  // Emitted after every save, so that automation offers the presets as they now are.
  void entitiesChanged();

 private:
  QList<Preset> readStoredPresetsKeepingBackup();

  UserDefaults& defaults_;
  QList<Preset> presets_;
  std::optional<QUuid> activePresetID_;
};

}  // namespace zephro
