#include "app/presets/window/CurveEditor.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <functional>
#include <ostream>
#include <vector>

#include "app/presets/CurveStore.h"
#include "app/presets/window/PresetEditor.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/ui/popover/PopoverFixture.h"

namespace zephro {

[[maybe_unused]] static void PrintTo(const CurvePoint& point, std::ostream* out) {
  *out << "{" << point.celsius << " °C, " << point.percent << " %}";
}

namespace {

using Points = std::vector<CurvePoint>;

// From the default curve (45 °C 0 %, 65 °C 40 %, 85 °C 100 %), each edit leaves the points a
// curve: a drag stops a degree short of a neighbour and within the chart, percentages never
// fall, a click or the add button adds up to 8 points, and removing stops at 2.
TEST(CurveEditor, EditsKeepThePointsACurve) {
  struct Case {
    const char* name;
    std::function<void(CurveEditor&)> edit;
    Points points;
    int selected;
  };
  const std::vector<Case> cases{
      {"drag within the neighbours",
       [](CurveEditor& e) { e.movePoint(1, 55.4, 30.6); },
       {{45, 0}, {55, 31}, {85, 100}},
       1},
      {"drag past the warmer neighbour",
       [](CurveEditor& e) { e.movePoint(1, 95, 120); },
       {{45, 0}, {84, 100}, {85, 100}},
       1},
      {"drag past the cooler neighbour",
       [](CurveEditor& e) { e.movePoint(1, 10, -5); },
       {{45, 0}, {46, 0}, {85, 100}},
       1},
      {"first point off the chart",
       [](CurveEditor& e) { e.movePoint(0, 0, 50); },
       {{30, 40}, {65, 40}, {85, 100}},
       0},
      {"last point off the chart",
       [](CurveEditor& e) { e.movePoint(2, 150, 10); },
       {{45, 0}, {65, 40}, {100, 40}},
       2},
      {"click between two points",
       [](CurveEditor& e) { e.addPointAt(75.2, 10); },
       {{45, 0}, {65, 40}, {75, 40}, {85, 100}},
       2},
      {"click within a degree of a point",
       [](CurveEditor& e) { e.addPointAt(64.6, 80); },
       {{45, 0}, {65, 40}, {85, 100}},
       -1},
      {"click beyond the last point",
       [](CurveEditor& e) { e.addPointAt(95, 20); },
       {{45, 0}, {65, 40}, {85, 100}, {95, 100}},
       3},
      {"the add button up to 8 points, then no click either",
       [](CurveEditor& e) {
         for (int press = 0; press < 6; ++press) e.addPoint();
         e.addPointAt(95, 100);
       },
       {{45, 0}, {50, 10}, {55, 20}, {60, 30}, {65, 40}, {70, 55}, {75, 70}, {85, 100}},
       5},
      {"removing down to 2 points",
       [](CurveEditor& e) {
         for (int press = 0; press < 3; ++press) {
           e.setSelectedPoint(1);
           e.removeSelectedPoint();
         }
       },
       {{45, 0}, {85, 100}},
       1},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    CurveEditor editor;
    editor.startNew(QStringLiteral("New Curve"));
    test.edit(editor);
    EXPECT_EQ(editor.points(), test.points);
    EXPECT_EQ(editor.selectedPoint(), test.selected);
    EXPECT_EQ(curvePointsProblem(editor.points()), std::nullopt);
    EXPECT_EQ(editor.canAddPoint(), test.points.size() < kMaximumCurvePoints);
    EXPECT_EQ(editor.canRemovePoint(), test.selected >= 0 && test.points.size() > 2);
  }
}

// A name the preset rules refuse keeps the curve from the store, with their message; a good
// one stores it, and the changed points of the curve the fans follow reach the fans at once.
TEST(CurveEditor, SavesThroughTheStoreWhatTheRulesAllow) {
  testing::PopoverFixture fixture;
  fixture.serveFans(2);
  fixture.poll();
  ASSERT_TRUE(testing::spinUntil([&] { return fixture.viewModel()->systemTemperature() > 0; }));
  CurveStore& store = fixture.viewModel()->curveStore();
  CurveEditor editor;
  editor.setViewModel(fixture.viewModel());
  editor.startNew(QStringLiteral("New Curve"));
  for (const auto& [name, message] :
       {std::pair{QStringLiteral(" \t"), QStringLiteral("Name cannot be empty.")},
        std::pair{QString(31, u'c'), QStringLiteral("Name must be 30 characters or fewer.")}}) {
    editor.setEditingName(name);
    editor.save();
    EXPECT_EQ(std::tuple(editor.errorMessageText(), editor.canSave(), store.curves().size()),
              std::tuple(message, false, 0));
  }
  editor.setEditingName(QStringLiteral("  Quiet desk "));
  editor.save();
  ASSERT_EQ(store.curves().size(), 1);
  const FanCurve saved = store.curves().front();
  EXPECT_EQ(std::tuple(saved.name, saved.points, editor.selectedCurveIDText(), editor.canSave()),
            std::tuple(QString("Quiet desk"), defaultCurvePoints(), saved.idText(), false));

  // The row and the chart's reading in the unit the user reads, switched while shown.
  const auto texts = [&editor] {
    return std::pair(editor.rows().front().toMap().value("valueText").toString(),
                     editor.currentTemperatureText());
  };
  EXPECT_EQ(texts(), std::pair(QString("45–85°C"), QString("48°C")));
  QSignalSpy rowsChanged(&editor, &CurveEditor::rowsChanged);
  fixture.settings()->setUseFahrenheit(true);
  EXPECT_EQ(std::pair(texts(), rowsChanged.size()),
            std::pair(std::pair(QString("113–185°F"), QString("118°F")), qsizetype{1}));

  // 47.5 °C: 5 % on the default points; 23 % once the first point rises to 20 %.
  fixture.viewModel()->applyCurveWithID(saved.idText());
  ASSERT_TRUE(testing::spinUntil([&] { return fixture.lastChange() == QVariantList{1, 5, 5}; }));
  EXPECT_EQ(editor.currentPercent(), 5);
  editor.movePoint(0, 45, 20);
  EXPECT_EQ(editor.currentPercent(), 23);
  editor.save();
  EXPECT_EQ(store.curves().front().points.front(), (CurvePoint{45, 20}));
  EXPECT_TRUE(testing::spinUntil([&] { return fixture.lastChange() == QVariantList{1, 23, 23}; }));
  EXPECT_EQ(store.activeCurveIDText(), saved.idText());
  // The curve's loop finishes on the event loop, which a last poll turns.
  ASSERT_TRUE(testing::ran(fixture.viewModel()->setSystemMode()));
  ASSERT_TRUE(testing::ran(fixture.viewModel()->refresh()));
}

// The window's two editors share its detail pane: whichever selects, the other lets go.
TEST(CurveEditor, SharesThePaneWithThePresetEditor) {
  testing::PopoverFixture fixture;
  PresetEditor presets;
  CurveEditor curves;
  presets.setViewModel(fixture.viewModel());
  curves.setViewModel(fixture.viewModel());
  curves.setPresetEditor(&presets);
  const QString preset = fixture.addPreset(QStringLiteral("Quiet"), 35);
  const QString curve = fixture.addCurve(QStringLiteral("Warm"));

  presets.startNew(QStringLiteral("New Preset"));
  curves.select(curve);
  EXPECT_EQ(std::tuple(presets.isEditing(), presets.rows().size(), curves.selectedCurveIDText()),
            std::tuple(false, 1, curve));
  presets.select(preset);
  EXPECT_EQ(std::tuple(presets.selectedPresetIDText(), curves.isEditing()),
            std::tuple(preset, false));
  curves.startNew(QStringLiteral("New Curve"));
  EXPECT_EQ(std::tuple(presets.isEditing(), curves.isCreatingNew(), curves.rows().size()),
            std::tuple(false, true, 2));
}

}  // namespace
}  // namespace zephro
