#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <cstdint>
#include <optional>

#include "app/presets/Preset.h"
#include "app/presets/PresetMode.h"
#include "app/presets/PresetRules.h"
#include "app/viewmodel/FanControlViewModel.h"

namespace zephro {

class PresetStore;

// The preset manager's editor: which preset is shown, the fields being edited, the
// message of the first rule they break, and the operations of the window's buttons. It
// changes presets only through the view model's store, and never lets a preset that
// breaks a rule reach it. Main thread only.
class PresetEditor : public QObject {
  Q_OBJECT
  QML_ELEMENT

  /// The view model whose store is edited and whose fans give the RPM bounds.
  Q_PROPERTY(zephro::FanControlViewModel* viewModel READ viewModel WRITE setViewModel NOTIFY
                 viewModelChanged)
  /// The id of the stored preset in the editor as upper-case UUID text; empty for none.
  Q_PROPERTY(QString selectedPresetID READ selectedPresetIDText NOTIFY selectedPresetIDChanged)
  Q_PROPERTY(QString editingName READ editingName WRITE setEditingName NOTIFY editingNameChanged)
  /// "percentage" or "rpm".
  Q_PROPERTY(
      QString editingMode READ editingModeText WRITE setEditingModeText NOTIFY editingModeChanged)
  Q_PROPERTY(qint64 editingValue READ editingValue WRITE setEditingValue NOTIFY editingValueChanged)
  /// A symbol name or one emoji; empty for none.
  Q_PROPERTY(
      QString editingSymbol READ editingSymbol WRITE setEditingSymbol NOTIFY editingSymbolChanged)
  /// The editor holds a preset that is not stored yet.
  Q_PROPERTY(bool isCreatingNew READ isCreatingNew NOTIFY isCreatingNewChanged)
  /// The first rule the fields break; empty when they break none.
  Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
  Q_PROPERTY(bool showingSymbolPicker MEMBER showingSymbolPicker_ NOTIFY showingSymbolPickerChanged)
  /// The editor is shown: a new preset is being made or a stored one is selected.
  Q_PROPERTY(bool isEditing READ isEditing NOTIFY selectionChanged)
  /// The allowed range of the value in the editing kind, and the stepper's step.
  Q_PROPERTY(qint64 lowerBound READ lowerBound NOTIFY boundsChanged)
  Q_PROPERTY(qint64 upperBound READ upperBound NOTIFY boundsChanged)
  Q_PROPERTY(qint64 lowerRPMBound READ lowerRPMBound NOTIFY boundsChanged)
  Q_PROPERTY(qint64 upperRPMBound READ upperRPMBound NOTIFY boundsChanged)
  Q_PROPERTY(int valueStep READ valueStep NOTIFY editingModeChanged)
  /// Save would store something: no message, a name, and a new preset or a change.
  Q_PROPERTY(bool canSave READ canSave NOTIFY canSaveChanged)
  /// The sidebar's rows: the stored presets in order, then the unsaved one while a new
  /// preset is made. Each is {id, name, symbol, valueText, isSelected, isUnsaved}; the
  /// unsaved row's name is empty while the editing name is blank.
  Q_PROPERTY(QVariantList rows READ rows NOTIFY rowsChanged)

 public:
  // The id the sidebar's row of the unsaved preset stands for.
  static constexpr auto kUnsavedID = "00000000-0000-0000-0000-000000000000";

  explicit PresetEditor(QObject* parent = nullptr);

  [[nodiscard]] FanControlViewModel* viewModel() const { return viewModel_; }
  void setViewModel(FanControlViewModel* viewModel);

  [[nodiscard]] std::optional<QUuid> selectedPresetID() const { return selectedPresetID_; }
  [[nodiscard]] QString selectedPresetIDText() const;
  [[nodiscard]] const QString& editingName() const { return editingName_; }
  void setEditingName(const QString& name);
  [[nodiscard]] PresetMode editingMode() const { return editingMode_; }
  [[nodiscard]] QString editingModeText() const { return rawValue(editingMode_); }
  // A new kind resets a value outside its range: to 50, or to the lower RPM bound.
  void setEditingMode(PresetMode mode);
  void setEditingModeText(const QString& raw);
  [[nodiscard]] std::int64_t editingValue() const { return editingValue_; }
  void setEditingValue(std::int64_t value);
  [[nodiscard]] const QString& editingSymbol() const { return editingSymbol_; }
  void setEditingSymbol(const QString& symbol);
  [[nodiscard]] bool isCreatingNew() const { return isCreatingNew_; }
  [[nodiscard]] const std::optional<QString>& errorMessage() const { return errorMessage_; }
  [[nodiscard]] QString errorMessageText() const { return errorMessage_.value_or(QString()); }
  [[nodiscard]] bool isEditing() const { return isCreatingNew_ || selectedPresetID_.has_value(); }

  [[nodiscard]] ValueBounds bounds() const;
  [[nodiscard]] std::int64_t lowerBound() const { return bounds().low; }
  [[nodiscard]] std::int64_t upperBound() const { return bounds().high; }
  [[nodiscard]] std::int64_t lowerRPMBound() const { return rpmBounds_.low; }
  [[nodiscard]] std::int64_t upperRPMBound() const { return rpmBounds_.high; }
  [[nodiscard]] int valueStep() const;
  [[nodiscard]] bool canSave() const;
  [[nodiscard]] QVariantList rows() const;

  // The add button and the empty pane's button: a new preset named newName, in
  // percentage mode at 50, without an icon.
  Q_INVOKABLE void startNew(const QString& newName);
  // A row's click: shows the stored preset with that id.
  Q_INVOKABLE void select(const QString& id);
  // The unsaved row's delete action: back to the first stored preset, or to nothing.
  Q_INVOKABLE void cancelNew();
  // Shows nothing and forgets an unsaved preset, as when a curve takes the pane.
  Q_INVOKABLE void deselect();
  // Deletes the stored preset without asking; when it was the selected one, the first
  // remaining preset is selected instead.
  Q_INVOKABLE void deletePreset(const QString& id);
  // The remove button: deletes the selected stored preset, if there is one.
  Q_INVOKABLE void deleteSelected();
  // Stores the new preset or the changes to the selected one, when they break no rule.
  Q_INVOKABLE void save();
  // The stepper: one step up (+1) or down (-1), kept within the bounds.
  Q_INVOKABLE void step(int direction);
  // The icon chooser's emoji input: its text as it should now read, which also becomes the
  // editing symbol when it is not empty.
  Q_INVOKABLE QString takeEmojiInput(const QString& text);

  // An icon as it is stored: trimmed, a known symbol name whole, any other text cut to its
  // first character (one emoji); nothing for blank text.
  [[nodiscard]] static std::optional<QString> normalizedSymbol(const QString& text);
  // "60%" or "1800 RPM".
  [[nodiscard]] Q_INVOKABLE static QString valueText(const QString& mode, qint64 value);

 signals:
  void viewModelChanged();
  void selectedPresetIDChanged();
  void editingNameChanged();
  void editingModeChanged();
  void editingValueChanged();
  void editingSymbolChanged();
  void isCreatingNewChanged();
  void errorMessageChanged();
  void showingSymbolPickerChanged();
  void selectionChanged();
  void boundsChanged();
  void canSaveChanged();
  void rowsChanged();

 private:
  [[nodiscard]] PresetStore* store() const;
  [[nodiscard]] std::optional<Preset> storedPreset(const QUuid& id) const;
  [[nodiscard]] bool differsFromSelected() const;

  void setSelectedPresetID(std::optional<QUuid> id);
  void setCreatingNew(bool creating);
  void setErrorMessage(std::optional<QString> message);
  void setFields(const QString& name, const QString& symbol, PresetMode mode, std::int64_t value);
  void load(const Preset& preset);
  void resetFields();
  // The first stored preset, or an empty editor when there is none.
  void selectFirstOrNothing();
  void validate();
  void presetsChanged();
  void fansChanged();

  QPointer<FanControlViewModel> viewModel_;
  std::optional<QUuid> selectedPresetID_;
  QString editingName_;
  PresetMode editingMode_ = PresetMode::percentage;
  std::int64_t editingValue_ = 50;
  QString editingSymbol_;
  bool isCreatingNew_ = false;
  std::optional<QString> errorMessage_;
  bool showingSymbolPicker_ = false;
  ValueBounds rpmBounds_{0, 6000};
};

}  // namespace zephro
