#include "app/presets/window/PresetEditor.h"

#include <QVariantMap>
#include <algorithm>
#include <ranges>

#include "app/presets/PresetStore.h"
#include "app/ui/SymbolCatalog.h"
#include "app/viewmodel/FanControlViewModel.h"

namespace zephro {
namespace {

constexpr std::int64_t kDefaultPercentage = 50;

}  // namespace

PresetEditor::PresetEditor(QObject* parent) : QObject(parent) {
  // What the rows and the save button show follows every field and the selection.
  for (const auto signal :
       {&PresetEditor::selectedPresetIDChanged, &PresetEditor::editingNameChanged,
        &PresetEditor::editingModeChanged, &PresetEditor::editingValueChanged,
        &PresetEditor::editingSymbolChanged, &PresetEditor::isCreatingNewChanged}) {
    connect(this, signal, this, &PresetEditor::rowsChanged);
    connect(this, signal, this, &PresetEditor::canSaveChanged);
  }
  connect(this, &PresetEditor::errorMessageChanged, this, &PresetEditor::canSaveChanged);
  connect(this, &PresetEditor::selectedPresetIDChanged, this, &PresetEditor::selectionChanged);
  connect(this, &PresetEditor::isCreatingNewChanged, this, &PresetEditor::selectionChanged);
  connect(this, &PresetEditor::editingModeChanged, this, &PresetEditor::boundsChanged);
}

void PresetEditor::setViewModel(FanControlViewModel* viewModel) {
  if (viewModel_ == viewModel) return;
  if (viewModel_) {
    disconnect(viewModel_, nullptr, this, nullptr);
    disconnect(&viewModel_->presetStore(), nullptr, this, nullptr);
  }
  viewModel_ = viewModel;
  if (viewModel_) {
    connect(viewModel_, &FanControlViewModel::fansChanged, this, &PresetEditor::fansChanged);
    connect(&viewModel_->presetStore(), &PresetStore::presetsChanged, this,
            &PresetEditor::presetsChanged);
  }
  emit viewModelChanged();
  fansChanged();
  presetsChanged();
}

QString PresetEditor::selectedPresetIDText() const {
  return selectedPresetID_ ? uuidText(*selectedPresetID_) : QString();
}

void PresetEditor::setEditingName(const QString& name) {
  if (editingName_ == name) return;
  editingName_ = name;
  emit editingNameChanged();
  validate();
}

void PresetEditor::setEditingMode(PresetMode mode) {
  if (editingMode_ == mode) return;
  editingMode_ = mode;
  emit editingModeChanged();
  const ValueBounds allowed = bounds();
  if (editingValue_ < allowed.low || editingValue_ > allowed.high) {
    editingValue_ = mode == PresetMode::percentage ? kDefaultPercentage : allowed.low;
    emit editingValueChanged();
  }
  validate();
}

void PresetEditor::setEditingModeText(const QString& raw) {
  if (const auto mode = presetModeFromRaw(raw)) setEditingMode(*mode);
}

void PresetEditor::setEditingValue(std::int64_t value) {
  if (editingValue_ == value) return;
  editingValue_ = value;
  emit editingValueChanged();
  validate();
}

void PresetEditor::setEditingSymbol(const QString& symbol) {
  if (editingSymbol_ == symbol) return;
  editingSymbol_ = symbol;
  emit editingSymbolChanged();
}

ValueBounds PresetEditor::bounds() const {
  return editingMode_ == PresetMode::percentage
             ? ValueBounds{kMinimumPresetPercentage, kMaximumPresetPercentage}
             : rpmBounds_;
}

int PresetEditor::valueStep() const {
  return editingMode_ == PresetMode::percentage ? 5 : 100;
}

bool PresetEditor::canSave() const {
  return !errorMessage_ && !trimmedPresetName(editingName_).isEmpty() &&
         (isCreatingNew_ || differsFromSelected());
}

QVariantList PresetEditor::rows() const {
  const auto row = [](const Preset& preset, bool selected, bool unsaved) {
    return QVariantMap{
        {QStringLiteral("id"), preset.idText()},
        {QStringLiteral("name"), preset.name},
        {QStringLiteral("symbol"), preset.symbolText()},
        {QStringLiteral("valueText"), valueText(preset.modeText(), preset.value)},
        {QStringLiteral("isSelected"), selected},
        {QStringLiteral("isUnsaved"), unsaved},
    };
  };
  QVariantList result;
  if (PresetStore* presets = store()) {
    for (const Preset& preset : presets->presets()) {
      result.append(row(preset, !isCreatingNew_ && selectedPresetID_ == preset.id, false));
    }
  }
  if (isCreatingNew_) {
    const Preset unsaved{QUuid(), trimmedPresetName(editingName_), editingMode_, editingValue_,
                         editingSymbol_};
    result.append(row(unsaved, true, true));
  }
  return result;
}

void PresetEditor::startNew(const QString& newName) {
  setCreatingNew(true);
  setSelectedPresetID(std::nullopt);
  setFields(newName, QString(), PresetMode::percentage, kDefaultPercentage);
  validate();
}

void PresetEditor::select(const QString& id) {
  const auto uuid = uuidFromText(id);
  if (!uuid || !storedPreset(*uuid)) return;
  setCreatingNew(false);
  setSelectedPresetID(uuid);
}

void PresetEditor::cancelNew() {
  setCreatingNew(false);
  selectFirstOrNothing();
}

void PresetEditor::deselect() {
  setCreatingNew(false);
  setSelectedPresetID(std::nullopt);
  resetFields();
}

void PresetEditor::deletePreset(const QString& id) {
  const auto uuid = uuidFromText(id);
  PresetStore* presets = store();
  if (!uuid || !presets) return;
  const bool wasSelected = selectedPresetID_ == uuid;
  presets->deletePreset(*uuid);
  if (wasSelected) selectFirstOrNothing();
}

void PresetEditor::selectFirstOrNothing() {
  const PresetStore* presets = store();
  if (presets == nullptr || presets->presets().isEmpty()) {
    setSelectedPresetID(std::nullopt);
    resetFields();
  } else {
    setSelectedPresetID(presets->presets().first().id);
  }
}

void PresetEditor::deleteSelected() {
  if (isCreatingNew_ || !selectedPresetID_) return;
  deletePreset(uuidText(*selectedPresetID_));
}

void PresetEditor::save() {
  validate();
  if (!canSave()) return;
  PresetStore* presets = store();
  if (!presets) return;
  Preset preset{QUuid(), trimmedPresetName(editingName_), editingMode_, editingValue_,
                normalizedSymbol(editingSymbol_)};
  if (isCreatingNew_) {
    preset.id = QUuid::createUuid();
    presets->add(preset);
    setCreatingNew(false);
    setSelectedPresetID(preset.id);
  } else if (selectedPresetID_) {
    preset.id = *selectedPresetID_;
    presets->update(preset);
  }
}

void PresetEditor::step(int direction) {
  const ValueBounds allowed = bounds();
  const std::int64_t stepped = editingValue_ + (direction < 0 ? -valueStep() : valueStep());
  setEditingValue(std::clamp(stepped, allowed.low, allowed.high));
}

QString PresetEditor::takeEmojiInput(const QString& text) {
  const auto symbol = normalizedSymbol(text);
  if (!symbol) return text;
  setEditingSymbol(*symbol);
  return *symbol;
}

std::optional<QString> PresetEditor::normalizedSymbol(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  if (SymbolCatalog::find(trimmed)) return trimmed;
  return firstCharacters(trimmed, 1);
}

QString PresetEditor::valueText(const QString& mode, qint64 value) {
  if (presetModeFromRaw(mode) == PresetMode::rpm) return QStringLiteral("%1 RPM").arg(value);
  return QStringLiteral("%1%").arg(value);
}

PresetStore* PresetEditor::store() const {
  return viewModel_ ? &viewModel_->presetStore() : nullptr;
}

std::optional<Preset> PresetEditor::storedPreset(const QUuid& id) const {
  if (PresetStore* presets = store()) {
    const auto found = std::ranges::find(presets->presets(), id, &Preset::id);
    if (found != presets->presets().end()) return *found;
  }
  return std::nullopt;
}

bool PresetEditor::differsFromSelected() const {
  if (!selectedPresetID_) return false;
  const auto stored = storedPreset(*selectedPresetID_);
  if (!stored) return false;
  return trimmedPresetName(editingName_) != stored->name ||
         normalizedSymbol(editingSymbol_) != stored->symbol || editingMode_ != stored->mode ||
         editingValue_ != stored->value;
}

void PresetEditor::setSelectedPresetID(std::optional<QUuid> id) {
  if (selectedPresetID_ == id) return;
  selectedPresetID_ = id;
  emit selectedPresetIDChanged();
  if (selectedPresetID_) {
    if (const auto preset = storedPreset(*selectedPresetID_)) load(*preset);
  } else if (!isCreatingNew_) {
    resetFields();
  }
}

void PresetEditor::setCreatingNew(bool creating) {
  if (isCreatingNew_ == creating) return;
  isCreatingNew_ = creating;
  emit isCreatingNewChanged();
}

void PresetEditor::setErrorMessage(std::optional<QString> message) {
  if (errorMessage_ == message) return;
  errorMessage_ = std::move(message);
  emit errorMessageChanged();
}

// All four fields at once, without validating in between (a half-set editor would report
// a rule it does not break).
void PresetEditor::setFields(const QString& name, const QString& symbol, PresetMode mode,
                             std::int64_t value) {
  editingName_ = name;
  editingSymbol_ = symbol;
  editingMode_ = mode;
  editingValue_ = value;
  emit editingNameChanged();
  emit editingSymbolChanged();
  emit editingModeChanged();
  emit editingValueChanged();
}

void PresetEditor::load(const Preset& preset) {
  setFields(preset.name, preset.symbolText(), preset.mode, preset.value);
  validate();
}

void PresetEditor::resetFields() {
  setFields(QString(), QString(), PresetMode::percentage, kDefaultPercentage);
  setErrorMessage(std::nullopt);
}

void PresetEditor::validate() {
  setErrorMessage(validatePreset(editingName_, editingMode_, editingValue_, rpmBounds_));
}

// A stored preset that went away under the editor (deleted elsewhere) leaves it as a
// deselection would.
void PresetEditor::presetsChanged() {
  if (selectedPresetID_ && !storedPreset(*selectedPresetID_)) setSelectedPresetID(std::nullopt);
  emit rowsChanged();
  emit canSaveChanged();
}

// The RPM bounds follow the fans; a message about them follows the bounds.
void PresetEditor::fansChanged() {
  const ValueBounds bounds = viewModel_ ? rpmBounds(viewModel_->fans()) : ValueBounds{0, 6000};
  if (bounds == rpmBounds_) return;
  rpmBounds_ = bounds;
  emit boundsChanged();
  if (isEditing()) validate();
}

}  // namespace zephro
