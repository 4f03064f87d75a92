#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <optional>
#include <vector>

#include "app/presets/FanCurve.h"
#include "app/presets/window/PresetEditor.h"
#include "app/viewmodel/FanControlViewModel.h"

namespace zephro {

class CurveStore;

// The preset manager's editor of fan curves: which curve is shown, its name, icon and
// points as they are being edited, and the operations of the chart and the buttons. Every
// edit keeps the points a curve (2 to 8 of them, whole degrees at least one apart and rising,
// percentages never falling), so only the name can stand in the way of saving. It shares the
// window's detail pane with the preset editor: selecting in one deselects the other. Main
// thread only.
class CurveEditor : public QObject {
  Q_OBJECT
  QML_ELEMENT

  /// The view model whose curve store is edited and whose temperature the chart shows.
  Q_PROPERTY(zephro::FanControlViewModel* viewModel READ viewModel WRITE setViewModel NOTIFY
                 viewModelChanged)
  /// The window's preset editor, deselected while a curve is shown and the other way round.
  Q_PROPERTY(zephro::PresetEditor* presetEditor READ presetEditor WRITE setPresetEditor NOTIFY
                 presetEditorChanged)
  /// The id of the stored curve in the editor as upper-case UUID text; empty for none.
  Q_PROPERTY(QString selectedCurveID READ selectedCurveIDText NOTIFY selectedCurveIDChanged)
  Q_PROPERTY(QString editingName READ editingName WRITE setEditingName NOTIFY editingNameChanged)
  /// A symbol name or one emoji; empty for none.
  Q_PROPERTY(
      QString editingSymbol READ editingSymbol WRITE setEditingSymbol NOTIFY editingSymbolChanged)
  /// The points being edited as {celsius, percent} maps, coolest first.
  Q_PROPERTY(QVariantList points READ pointList NOTIFY pointsChanged)
  /// The index of the point the remove button takes away; -1 for none.
  Q_PROPERTY(
      int selectedPoint READ selectedPoint WRITE setSelectedPoint NOTIFY selectedPointChanged)
  Q_PROPERTY(bool isCreatingNew READ isCreatingNew NOTIFY isCreatingNewChanged)
  Q_PROPERTY(bool isEditing READ isEditing NOTIFY selectionChanged)
  /// The first rule the fields break; empty when they break none.
  Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
  Q_PROPERTY(bool showingSymbolPicker MEMBER showingSymbolPicker_ NOTIFY showingSymbolPickerChanged)
  /// Save would store something: no message, a name, and a new curve or a change.
  Q_PROPERTY(bool canSave READ canSave NOTIFY canSaveChanged)
  /// The add button finds room for a point: fewer than 8, and two points 2 °C or more apart.
  Q_PROPERTY(bool canAddPoint READ canAddPoint NOTIFY pointsChanged)
  /// A point is selected and more than 2 remain.
  Q_PROPERTY(bool canRemovePoint READ canRemovePoint NOTIFY selectedPointChanged)
  /// The chart's temperature axis: 30 to 100 °C, widened to take in every point loaded.
  Q_PROPERTY(double lowestCelsius READ lowestCelsius NOTIFY chartRangeChanged)
  Q_PROPERTY(double highestCelsius READ highestCelsius NOTIFY chartRangeChanged)
  /// The system temperature has been read; the three below describe it.
  Q_PROPERTY(bool hasTemperature READ hasTemperature NOTIFY nowChanged)
  Q_PROPERTY(double currentCelsius READ currentCelsius NOTIFY nowChanged)
  /// "48°C".
  Q_PROPERTY(QString currentTemperatureText READ currentTemperatureText NOTIFY nowChanged)
  /// The percentage the edited points give at the current temperature, rounded.
  Q_PROPERTY(int currentPercent READ currentPercent NOTIFY nowChanged)
  /// The sidebar's curve rows: the stored curves in order, then the unsaved one while a new
  /// curve is made. Each is {id, name, symbol, valueText, isSelected, isUnsaved}.
  Q_PROPERTY(QVariantList rows READ rows NOTIFY rowsChanged)

 public:
  static constexpr double kChartLowestCelsius = 30;
  static constexpr double kChartHighestCelsius = 100;

  explicit CurveEditor(QObject* parent = nullptr);

  [[nodiscard]] FanControlViewModel* viewModel() const { return viewModel_; }
  void setViewModel(FanControlViewModel* viewModel);
  [[nodiscard]] PresetEditor* presetEditor() const { return presetEditor_; }
  void setPresetEditor(PresetEditor* presetEditor);

  [[nodiscard]] std::optional<QUuid> selectedCurveID() const { return selectedCurveID_; }
  [[nodiscard]] QString selectedCurveIDText() const;
  [[nodiscard]] const QString& editingName() const { return editingName_; }
  void setEditingName(const QString& name);
  [[nodiscard]] const QString& editingSymbol() const { return editingSymbol_; }
  void setEditingSymbol(const QString& symbol);
  [[nodiscard]] const std::vector<CurvePoint>& points() const { return points_; }
  [[nodiscard]] QVariantList pointList() const;
  [[nodiscard]] int selectedPoint() const { return selectedPoint_; }
  void setSelectedPoint(int index);
  [[nodiscard]] bool isCreatingNew() const { return isCreatingNew_; }
  [[nodiscard]] bool isEditing() const { return isCreatingNew_ || selectedCurveID_.has_value(); }
  [[nodiscard]] const std::optional<QString>& errorMessage() const { return errorMessage_; }
  [[nodiscard]] QString errorMessageText() const { return errorMessage_.value_or(QString()); }
  [[nodiscard]] bool canSave() const;
  [[nodiscard]] bool canAddPoint() const;
  [[nodiscard]] bool canRemovePoint() const;
  [[nodiscard]] double lowestCelsius() const { return lowestCelsius_; }
  [[nodiscard]] double highestCelsius() const { return highestCelsius_; }
  [[nodiscard]] bool hasTemperature() const;
  [[nodiscard]] double currentCelsius() const;
  [[nodiscard]] QString currentTemperatureText() const;
  [[nodiscard]] int currentPercent() const;
  [[nodiscard]] QVariantList rows() const;

  // The add button and the empty pane's button: a new curve named newName, without an icon,
  // on the default points.
  Q_INVOKABLE void startNew(const QString& newName);
  // A row's click: shows the stored curve with that id.
  Q_INVOKABLE void select(const QString& id);
  // Shows nothing and forgets an unsaved curve.
  Q_INVOKABLE void deselect();
  // The unsaved row's delete action: back to the first stored curve, or to nothing.
  Q_INVOKABLE void cancelNew();
  // Deletes the stored curve without asking; when it was the selected one, the first
  // remaining curve is selected instead.
  Q_INVOKABLE void deleteCurve(const QString& id);
  // The remove button: deletes the selected stored curve, if there is one.
  Q_INVOKABLE void deleteSelected();
  // A drag: the point goes to the whole degree and percent nearest the pointer, kept
  // between its neighbours and within the chart, and becomes the selected point.
  Q_INVOKABLE void movePoint(int index, double celsius, double percent);
  // A click on the chart: a point there, its percentage kept between its neighbours'.
  // Nothing when 8 points are shown or the spot is within a degree of a point.
  Q_INVOKABLE void addPointAt(double celsius, double percent);
  // The add button: a point on the curve halfway across its widest gap, which keeps its shape.
  Q_INVOKABLE void addPoint();
  // The remove button: takes the selected point away while more than 2 remain.
  Q_INVOKABLE void removeSelectedPoint();
  // Stores the new curve or the changes to the selected one, when they break no rule.
  Q_INVOKABLE void save();
  // The icon chooser's emoji input, as in the preset editor.
  Q_INVOKABLE QString takeEmojiInput(const QString& text);

 signals:
  void viewModelChanged();
  void presetEditorChanged();
  void selectedCurveIDChanged();
  void editingNameChanged();
  void editingSymbolChanged();
  void pointsChanged();
  void selectedPointChanged();
  void isCreatingNewChanged();
  void selectionChanged();
  void errorMessageChanged();
  void showingSymbolPickerChanged();
  void canSaveChanged();
  void chartRangeChanged();
  void nowChanged();
  void rowsChanged();

 private:
  [[nodiscard]] CurveStore* store() const;
  [[nodiscard]] std::optional<FanCurve> storedCurve(const QUuid& id) const;
  [[nodiscard]] bool differsFromSelected() const;

  void setSelectedCurveID(std::optional<QUuid> id);
  void setCreatingNew(bool creating);
  void setErrorMessage(std::optional<QString> message);
  void setFields(const QString& name, const QString& symbol, std::vector<CurvePoint> points);
  void setPoints(std::vector<CurvePoint> points, int selected);
  void insertPoint(CurvePoint point);
  // Whether a point at this temperature keeps every point at least a degree from the next.
  [[nodiscard]] bool hasRoomAt(double celsius) const;
  // Where the add button puts a point, or nothing when no gap has room.
  [[nodiscard]] std::optional<CurvePoint> pointForAddButton() const;
  void resetFields();
  void selectFirstOrNothing();
  // The preset editor gives up the pane before this one takes it.
  void takePane();
  void validate();
  void curvesChanged();

  QPointer<FanControlViewModel> viewModel_;
  QPointer<PresetEditor> presetEditor_;
  std::optional<QUuid> selectedCurveID_;
  QString editingName_;
  QString editingSymbol_;
  std::vector<CurvePoint> points_;
  int selectedPoint_ = -1;
  bool isCreatingNew_ = false;
  std::optional<QString> errorMessage_;
  bool showingSymbolPicker_ = false;
  double lowestCelsius_ = kChartLowestCelsius;
  double highestCelsius_ = kChartHighestCelsius;
};

}  // namespace zephro
