#include "app/presets/window/CurveEditor.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>
#include <ranges>

#include "app/presets/CurveStore.h"
#include "app/presets/PresetRules.h"
#include "app/viewmodel/StatusText.h"

namespace zephro {
namespace {

// Neighbouring points stay at least this far apart, so that dragged points, which move in
// whole degrees, always stay strictly rising.
constexpr double kPointSpacing = 1.0;

// "45–85°C" or "113–185°F": where the curve starts and stops rising.
QString rangeText(const std::vector<CurvePoint>& points, bool fahrenheit) {
  if (points.empty()) return {};
  return QStringLiteral("%1–%2")
      .arg(std::lround(shownDegrees(points.front().celsius, fahrenheit)))
      .arg(temperatureText(points.back().celsius, fahrenheit));
}

}  // namespace

CurveEditor::CurveEditor(QObject* parent) : QObject(parent), points_(defaultCurvePoints()) {
  // What the rows and the save button show follows every field and the selection.
  for (const auto signal : {&CurveEditor::selectedCurveIDChanged, &CurveEditor::editingNameChanged,
                            &CurveEditor::editingSymbolChanged, &CurveEditor::pointsChanged,
                            &CurveEditor::isCreatingNewChanged}) {
    connect(this, signal, this, &CurveEditor::rowsChanged);
    connect(this, signal, this, &CurveEditor::canSaveChanged);
  }
  connect(this, &CurveEditor::errorMessageChanged, this, &CurveEditor::canSaveChanged);
  connect(this, &CurveEditor::selectedCurveIDChanged, this, &CurveEditor::selectionChanged);
  connect(this, &CurveEditor::isCreatingNewChanged, this, &CurveEditor::selectionChanged);
  connect(this, &CurveEditor::pointsChanged, this, &CurveEditor::nowChanged);
}

void CurveEditor::setViewModel(FanControlViewModel* viewModel) {
  if (viewModel_ == viewModel) return;
  if (viewModel_) {
    disconnect(viewModel_, nullptr, this, nullptr);
    disconnect(&viewModel_->curveStore(), nullptr, this, nullptr);
  }
  viewModel_ = viewModel;
  if (viewModel_) {
    connect(viewModel_, &FanControlViewModel::systemTemperatureChanged, this,
            &CurveEditor::nowChanged);
    connect(viewModel_, &FanControlViewModel::useFahrenheitChanged, this, &CurveEditor::nowChanged);
    connect(viewModel_, &FanControlViewModel::useFahrenheitChanged, this,
            &CurveEditor::rowsChanged);
    connect(&viewModel_->curveStore(), &CurveStore::curvesChanged, this,
            &CurveEditor::curvesChanged);
  }
  emit viewModelChanged();
  emit nowChanged();
  curvesChanged();
}

void CurveEditor::setPresetEditor(PresetEditor* presetEditor) {
  if (presetEditor_ == presetEditor) return;
  if (presetEditor_) disconnect(presetEditor_, nullptr, this, nullptr);
  presetEditor_ = presetEditor;
  if (presetEditor_) {
    connect(presetEditor_, &PresetEditor::selectionChanged, this, [this] {
      if (presetEditor_->isEditing() && isEditing()) deselect();
    });
  }
  emit presetEditorChanged();
}

QString CurveEditor::selectedCurveIDText() const {
  return selectedCurveID_ ? uuidText(*selectedCurveID_) : QString();
}

void CurveEditor::setEditingName(const QString& name) {
  if (editingName_ == name) return;
  editingName_ = name;
  emit editingNameChanged();
  validate();
}

void CurveEditor::setEditingSymbol(const QString& symbol) {
  if (editingSymbol_ == symbol) return;
  editingSymbol_ = symbol;
  emit editingSymbolChanged();
}

QVariantList CurveEditor::pointList() const {
  return FanCurve{QUuid(), QString(), std::nullopt, points_}.pointList();
}

void CurveEditor::setSelectedPoint(int index) {
  const int selected = index >= 0 && index < std::ssize(points_) ? index : -1;
  if (selectedPoint_ == selected) return;
  selectedPoint_ = selected;
  emit selectedPointChanged();
}

bool CurveEditor::canSave() const {
  return !errorMessage_ && !trimmedPresetName(editingName_).isEmpty() &&
         (isCreatingNew_ || differsFromSelected());
}

bool CurveEditor::canAddPoint() const {
  return pointForAddButton().has_value();
}

bool CurveEditor::canRemovePoint() const {
  return selectedPoint_ >= 0 && points_.size() > kMinimumCurvePoints;
}

bool CurveEditor::hasTemperature() const {
  return viewModel_ && std::isfinite(viewModel_->systemTemperature()) &&
         viewModel_->systemTemperature() > 0;
}

double CurveEditor::currentCelsius() const {
  return hasTemperature() ? viewModel_->systemTemperature() : 0.0;
}

QString CurveEditor::currentTemperatureText() const {
  return hasTemperature() ? temperatureText(currentCelsius(), viewModel_->useFahrenheit())
                          : QString();
}

int CurveEditor::currentPercent() const {
  if (!hasTemperature() || curvePointsProblem(points_)) return 0;
  return static_cast<int>(std::lround(curvePercentage(points_, currentCelsius())));
}

QVariantList CurveEditor::rows() const {
  const bool fahrenheit = viewModel_ && viewModel_->useFahrenheit();
  const auto row = [fahrenheit](const FanCurve& curve, bool selected, bool unsaved) {
    return QVariantMap{
        {QStringLiteral("id"), curve.idText()},
        {QStringLiteral("name"), curve.name},
        {QStringLiteral("symbol"), curve.symbolText()},
        {QStringLiteral("valueText"), rangeText(curve.points, fahrenheit)},
        {QStringLiteral("isSelected"), selected},
        {QStringLiteral("isUnsaved"), unsaved},
    };
  };
  QVariantList result;
  if (const CurveStore* curves = store()) {
    for (const FanCurve& curve : curves->curves()) {
      result.append(row(curve, !isCreatingNew_ && selectedCurveID_ == curve.id, false));
    }
  }
  if (isCreatingNew_) {
    result.append(
        row({QUuid(), trimmedPresetName(editingName_), editingSymbol_, points_}, true, true));
  }
  return result;
}

void CurveEditor::startNew(const QString& newName) {
  takePane();
  setCreatingNew(true);
  setSelectedCurveID(std::nullopt);
  setFields(newName, QString(), defaultCurvePoints());
  validate();
}

void CurveEditor::select(const QString& id) {
  const auto uuid = uuidFromText(id);
  if (!uuid || !storedCurve(*uuid)) return;
  takePane();
  setCreatingNew(false);
  setSelectedCurveID(uuid);
}

void CurveEditor::deselect() {
  setCreatingNew(false);
  setSelectedCurveID(std::nullopt);
  resetFields();
}

void CurveEditor::cancelNew() {
  setCreatingNew(false);
  selectFirstOrNothing();
}

void CurveEditor::deleteCurve(const QString& id) {
  const auto uuid = uuidFromText(id);
  CurveStore* curves = store();
  if (!uuid || !curves) return;
  const bool wasSelected = selectedCurveID_ == uuid;
  curves->deleteCurve(*uuid);
  if (wasSelected) selectFirstOrNothing();
}

void CurveEditor::deleteSelected() {
  if (isCreatingNew_ || !selectedCurveID_) return;
  deleteCurve(uuidText(*selectedCurveID_));
}

void CurveEditor::movePoint(int index, double celsius, double percent) {
  if (index < 0 || index >= std::ssize(points_) || !std::isfinite(celsius) ||
      !std::isfinite(percent)) {
    return;
  }
  const auto at = static_cast<std::size_t>(index);
  const bool first = at == 0;
  const bool last = at + 1 == points_.size();
  std::vector<CurvePoint> points = points_;
  // A point whose neighbours leave it no whole degree (stored elsewhere) keeps its own.
  const double coolest = std::ceil(first ? lowestCelsius_ : points[at - 1].celsius + kPointSpacing);
  const double warmest =
      std::floor(last ? highestCelsius_ : points[at + 1].celsius - kPointSpacing);
  if (coolest <= warmest) points[at].celsius = std::clamp(std::round(celsius), coolest, warmest);
  const int wanted = static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0)));
  points[at].percent =
      std::clamp(wanted, first ? 0 : points[at - 1].percent, last ? 100 : points[at + 1].percent);
  if (points == points_) {
    setSelectedPoint(index);
    return;
  }
  setPoints(std::move(points), index);
}

void CurveEditor::addPointAt(double celsius, double percent) {
  const double at = std::round(celsius);
  if (points_.size() >= kMaximumCurvePoints || !std::isfinite(at) || !std::isfinite(percent) ||
      at < lowestCelsius_ || at > highestCelsius_ || !hasRoomAt(at)) {
    return;
  }
  const int wanted = static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0)));
  insertPoint({at, wanted});
}

void CurveEditor::addPoint() {
  if (const auto point = pointForAddButton()) insertPoint(*point);
}

void CurveEditor::removeSelectedPoint() {
  if (!canRemovePoint()) return;
  std::vector<CurvePoint> points = points_;
  points.erase(points.begin() + selectedPoint_);
  setPoints(std::move(points), -1);
}

void CurveEditor::save() {
  validate();
  CurveStore* curves = store();
  if (!canSave() || curvePointsProblem(points_) || !curves) return;
  FanCurve curve{QUuid(), trimmedPresetName(editingName_),
                 PresetEditor::normalizedSymbol(editingSymbol_), points_};
  if (isCreatingNew_) {
    curve.id = QUuid::createUuid();
    curves->add(curve);
    setCreatingNew(false);
    setSelectedCurveID(curve.id);
  } else if (selectedCurveID_) {
    curve.id = *selectedCurveID_;
    curves->update(curve);
  }
}

QString CurveEditor::takeEmojiInput(const QString& text) {
  const auto symbol = PresetEditor::normalizedSymbol(text);
  if (!symbol) return text;
  setEditingSymbol(*symbol);
  return *symbol;
}

CurveStore* CurveEditor::store() const {
  return viewModel_ ? &viewModel_->curveStore() : nullptr;
}

std::optional<FanCurve> CurveEditor::storedCurve(const QUuid& id) const {
  const CurveStore* curves = store();
  return curves ? curves->curve(id) : std::nullopt;
}

bool CurveEditor::differsFromSelected() const {
  if (!selectedCurveID_) return false;
  const auto stored = storedCurve(*selectedCurveID_);
  if (!stored) return false;
  return trimmedPresetName(editingName_) != stored->name ||
         PresetEditor::normalizedSymbol(editingSymbol_) != stored->symbol ||
         points_ != stored->points;
}

void CurveEditor::setSelectedCurveID(std::optional<QUuid> id) {
  if (selectedCurveID_ == id) return;
  selectedCurveID_ = id;
  emit selectedCurveIDChanged();
  if (selectedCurveID_) {
    if (const auto curve = storedCurve(*selectedCurveID_)) {
      setFields(curve->name, curve->symbolText(), curve->points);
      validate();
    }
  } else if (!isCreatingNew_) {
    resetFields();
  }
}

void CurveEditor::setCreatingNew(bool creating) {
  if (isCreatingNew_ == creating) return;
  isCreatingNew_ = creating;
  emit isCreatingNewChanged();
}

void CurveEditor::setErrorMessage(std::optional<QString> message) {
  if (errorMessage_ == message) return;
  errorMessage_ = std::move(message);
  emit errorMessageChanged();
}

// Every field at once, without validating in between; the chart widens to show every point.
void CurveEditor::setFields(const QString& name, const QString& symbol,
                            std::vector<CurvePoint> points) {
  editingName_ = name;
  editingSymbol_ = symbol;
  emit editingNameChanged();
  emit editingSymbolChanged();
  lowestCelsius_ = std::min(kChartLowestCelsius, std::floor(points.front().celsius));
  highestCelsius_ = std::max(kChartHighestCelsius, std::ceil(points.back().celsius));
  emit chartRangeChanged();
  setPoints(std::move(points), -1);
}

void CurveEditor::setPoints(std::vector<CurvePoint> points, int selected) {
  points_ = std::move(points);
  selectedPoint_ = selected;
  emit pointsChanged();
  emit selectedPointChanged();
}

void CurveEditor::insertPoint(CurvePoint point) {
  std::vector<CurvePoint> points = points_;
  const auto above = std::ranges::find_if(
      points, [&point](const CurvePoint& other) { return other.celsius > point.celsius; });
  const int lowest = above == points.begin() ? 0 : std::prev(above)->percent;
  const int highest = above == points.end() ? 100 : above->percent;
  point.percent = std::clamp(point.percent, lowest, highest);
  const auto inserted = points.insert(above, point);
  const auto index = static_cast<int>(std::distance(points.begin(), inserted));
  setPoints(std::move(points), index);
}

bool CurveEditor::hasRoomAt(double celsius) const {
  return std::ranges::none_of(points_, [celsius](const CurvePoint& point) {
    return std::abs(point.celsius - celsius) < kPointSpacing;
  });
}

std::optional<CurvePoint> CurveEditor::pointForAddButton() const {
  if (points_.size() >= kMaximumCurvePoints || points_.size() < 2) return std::nullopt;
  std::size_t widest = 1;
  for (std::size_t i = 2; i < points_.size(); ++i) {
    const double gap = points_[i].celsius - points_[i - 1].celsius;
    if (gap > points_[widest].celsius - points_[widest - 1].celsius) widest = i;
  }
  const double middle = std::round((points_[widest - 1].celsius + points_[widest].celsius) / 2);
  if (!hasRoomAt(middle)) return std::nullopt;
  return CurvePoint{middle, static_cast<int>(std::lround(curvePercentage(points_, middle)))};
}

void CurveEditor::resetFields() {
  setFields(QString(), QString(), defaultCurvePoints());
  setErrorMessage(std::nullopt);
}

void CurveEditor::selectFirstOrNothing() {
  const CurveStore* curves = store();
  if (curves == nullptr || curves->curves().isEmpty()) {
    setSelectedCurveID(std::nullopt);
    resetFields();
  } else {
    setSelectedCurveID(curves->curves().first().id);
  }
}

void CurveEditor::takePane() {
  if (presetEditor_ && presetEditor_->isEditing()) presetEditor_->deselect();
}

void CurveEditor::validate() {
  setErrorMessage(validateName(editingName_));
}

// A stored curve that went away under the editor (deleted elsewhere) leaves it as a
// deselection would.
void CurveEditor::curvesChanged() {
  if (selectedCurveID_ && !storedCurve(*selectedCurveID_)) setSelectedCurveID(std::nullopt);
  emit rowsChanged();
  emit canSaveChanged();
}

}  // namespace zephro
