// Renders the preset manager's window in its states, light and dark, into PNG files:
//   preset_window_screenshots OUTPUT_DIR
// The real window and QML module over a real view model on an in-process helper
// (PopoverFixture), on whatever platform QT_QPA_PLATFORM names.
#include <QtQml/qqmlextensionplugin.h>
#include <QCursor>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/presets/CurveStore.h"
#include "app/presets/window/CurveEditor.h"
#include "app/presets/window/PresetEditor.h"
#include "app/presets/window/PresetWindowController.h"
#include "app/settings/AppearanceMode.h"
#include "app/ui/LocalizationManager.h"
#include "tests/app/ui/popover/PopoverFixture.h"
#include "tools/zephro-screenshots/ScreenshotMain.h"

Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)

namespace {

using zephro::CurveEditor;
using zephro::PresetEditor;
using zephro::testing::PopoverFixture;

bool waitFor(const std::function<bool()>& done, int milliseconds = 5000) {
  const QDeadlineTimer deadline(milliseconds);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

bool withFans(PopoverFixture& fixture) {
  fixture.serveFans(2, 2400, 1200, 5800);
  fixture.poll();
  return waitFor([&] { return fixture.viewModel()->fans().size() == 2; });
}

void addPresets(PopoverFixture& fixture) {
  fixture.addPreset(QStringLiteral("Quiet"), 35, QStringLiteral("snowflake"));
  fixture.addPreset(QStringLiteral("Balanced"), 60, QString());
  fixture.addRPMPreset(QStringLiteral("Render"), 4200);
  fixture.addPreset(QStringLiteral("Gaming"), 90, QStringLiteral("gamecontroller.fill"));
  fixture.addPreset(QStringLiteral("Studio"), 45, QStringLiteral("🎧"));
}

// Two curves beside the presets; the second rises in four steps.
void addCurves(PopoverFixture& fixture) {
  fixture.addCurve(QStringLiteral("Quiet desk"), QStringLiteral("wind"));
  fixture.viewModel()->curveStore().add(
      {QUuid::createUuid(), QStringLiteral("Long render"), QStringLiteral("flame"),
       std::vector<zephro::CurvePoint>{{40, 10}, {55, 25}, {70, 60}, {85, 100}}});
}

struct Scene {
  const char* name;
  // Sets the editors up once the window shows.
  std::function<void(PopoverFixture&, PresetEditor&, CurveEditor&)> prepare;
};

std::vector<Scene> scenes() {
  return {
      {"empty", [](PopoverFixture&, PresetEditor&, CurveEditor&) {}},
      {"editing",
       [](PopoverFixture& fixture, PresetEditor& editor, CurveEditor&) {
         addPresets(fixture);
         editor.select(fixture.viewModel()->presetStore().presets().at(2).idText());
       }},
      {"new-blank-name",
       [](PopoverFixture& fixture, PresetEditor& editor, CurveEditor&) {
         addPresets(fixture);
         editor.startNew(
             zephro::LocalizationManager::shared().string(QStringLiteral("preset_new")));
         editor.setEditingName(QString());
       }},
      {"picker",
       [](PopoverFixture& fixture, PresetEditor& editor, CurveEditor&) {
         addPresets(fixture);
         editor.select(fixture.viewModel()->presetStore().presets().at(0).idText());
         editor.setProperty("showingSymbolPicker", true);
       }},
      {"curve",
       [](PopoverFixture& fixture, PresetEditor&, CurveEditor& curves) {
         addPresets(fixture);
         addCurves(fixture);
         curves.select(fixture.viewModel()->curveStore().curves().at(1).idText());
         curves.setSelectedPoint(2);
       }},
      {"curve-fahrenheit",
       [](PopoverFixture& fixture, PresetEditor&, CurveEditor& curves) {
         fixture.settings()->setUseFahrenheit(true);
         addCurves(fixture);
         curves.select(fixture.viewModel()->curveStore().curves().at(1).idText());
         curves.setSelectedPoint(1);
       }},
  };
}

bool render(const Scene& scene, zephro::Appearance appearance, const QString& path) {
  // The window opens in the middle of the screen, where the pointer rests: moved to the
  // corner, it leaves no control hovered in the picture.
  QCursor::setPos(QPoint(0, 0));
  PopoverFixture fixture;
  if (!withFans(fixture)) return false;
  QGuiApplication::setPalette(zephro::paletteFor(appearance));
  QQmlEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  zephro::PresetWindowController controller(engine);
  if (!controller.show(*fixture.viewModel())) return false;
  auto* editor = controller.content()->property("editor").value<PresetEditor*>();
  auto* curves = controller.content()->property("curveEditor").value<CurveEditor*>();
  if (!editor || !curves) return false;
  scene.prepare(fixture, *editor, *curves);
  waitFor([&] { return controller.window().isExposed(); });
  return zephro::screenshots::saveSettled(controller.window(), 400, path);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Scene> all = scenes();
  return zephro::screenshots::runScreenshots(
      argc, argv, QStringLiteral("presets"), zephro::screenshots::sceneNames(all),
      [&](qsizetype scene, zephro::Appearance appearance, const QString& path) {
        return render(all.at(static_cast<std::size_t>(scene)), appearance, path);
      });
}
