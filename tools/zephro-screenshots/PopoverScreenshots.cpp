// Renders the popover in each of its states, light and dark, into PNG files:
//   popover_screenshots OUTPUT_DIR
// The real QML module over a real view model on an in-process helper (PopoverFixture),
// on whatever platform QT_QPA_PLATFORM names (offscreen by default, or Xvfb's xcb).
#include <QtQml/qqmlextensionplugin.h>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/presets/CurveStore.h"
#include "app/presets/PresetStore.h"
#include "app/settings/AppearanceMode.h"
#include "tests/app/ui/popover/PopoverFixture.h"
#include "tools/zephro-screenshots/ScreenshotMain.h"

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_ScreenshotsPlugin)

namespace {

using zephro::ConnectionState;
using zephro::FanControlViewModel;
using zephro::testing::PopoverFixture;

// Turns the event loop until done() holds; false when it did not within five seconds.
bool waitFor(const std::function<bool()>& done) {
  const QDeadlineTimer deadline(5000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

bool connectedWithFans(PopoverFixture& fixture, int fans) {
  fixture.serveFans(fans, 2400);
  fixture.poll();
  return waitFor([&] {
    return fixture.viewModel()->connectionState() == ConnectionState::connected() &&
           fixture.viewModel()->fans().size() == static_cast<std::size_t>(fans);
  });
}

// Two fans in manual mode, the second one turned up, and three presets.
bool connectedInManualMode(PopoverFixture& fixture) {
  fixture.addPreset(QStringLiteral("Quiet"), 35, QStringLiteral("snowflake"));
  fixture.addPreset(QStringLiteral("Balanced"), 60, QString());
  fixture.addPreset(QStringLiteral("Gaming"), 90, QStringLiteral("gamecontroller.fill"));
  fixture.addPreset(QStringLiteral("Studio"), 45, QStringLiteral("★"));
  if (!connectedWithFans(fixture, 2)) return false;
  auto& model = *fixture.viewModel();
  model.selectMode(FanControlViewModel::Mode::Manual);
  if (!waitFor([&] { return model.activeMode() == zephro::FanMode::manual; })) return false;
  model.commitPercentage(1, 75);
  if (!waitFor([&] { return fixture.setModeCount() == 2 && !model.isApplyingChange(); })) {
    return false;
  }
  fixture.poll();
  return waitFor([&] { return model.fans().size() == 2 && model.fans()[1].currentRPM() > 4000; });
}

// Two fans following a curve, listed after the presets.
bool followingACurve(PopoverFixture& fixture) {
  fixture.addPreset(QStringLiteral("Quiet"), 35, QStringLiteral("snowflake"));
  fixture.addPreset(QStringLiteral("Gaming"), 90, QStringLiteral("gamecontroller.fill"));
  fixture.addCurve(QStringLiteral("Quiet desk"), QStringLiteral("wind"));
  const QString curve = fixture.addCurve(QStringLiteral("Long render"), QStringLiteral("flame"));
  if (!connectedWithFans(fixture, 2)) return false;
  auto& model = *fixture.viewModel();
  model.applyCurveWithID(curve);
  if (!waitFor([&] {
        return model.curveStore().activeCurveIDText() == curve && fixture.setModeCount() == 1 &&
               !model.isApplyingChange();
      })) {
    return false;
  }
  fixture.poll();
  return waitFor([&] { return model.activeMode() == zephro::FanMode::manual; });
}

// Connected to two fans, then a change the helper refuses for a reason the popover explains.
template <ConnectionState::Refusal refusal>
bool refusedBy(PopoverFixture& fixture) {
  if (!connectedWithFans(fixture, 2)) return false;
  fixture.refuseChanges(static_cast<int>(refusal));
  fixture.viewModel()->selectMode(FanControlViewModel::Mode::Max);
  return waitFor([&] { return fixture.viewModel()->connectionState().refusal() == refusal; });
}

struct Scene {
  const char* name;
  std::function<bool(PopoverFixture&)> prepare;
  bool isMacBookAir = false;
  // Panels to open, by object name.
  std::vector<const char*> open = {};
  double maxHeight = 1200;
  bool solid = false;
};

std::vector<Scene> scenes() {
  return {
      {.name = "connecting", .prepare = [](PopoverFixture&) { return true; }},
      {.name = "needs-approval",
       .prepare =
           [](PopoverFixture& fixture) {
             fixture.requireApproval();
             return true;
           }},
      {.name = "error",
       .prepare =
           [](PopoverFixture& fixture) {
             fixture.breakHelper();
             for (int poll = 0; poll < 2; ++poll) fixture.poll();
             return waitFor([&] {
               return fixture.viewModel()->connectionState().kind() == ConnectionState::Kind::error;
             });
           }},
      {.name = "not-authorized", .prepare = refusedBy<ConnectionState::Refusal::notAuthorized>},
      {.name = "fans-read-only", .prepare = refusedBy<ConnectionState::Refusal::readOnlyFans>},
      {.name = "connected", .prepare = connectedInManualMode},
      {.name = "connected-solid", .prepare = connectedInManualMode, .solid = true},
      {.name = "curve-active", .prepare = followingACurve},
      {.name = "no-fans", .prepare = [](PopoverFixture& f) { return connectedWithFans(f, 0); }},
      {.name = "macbook-air-no-fans",
       .prepare = [](PopoverFixture& f) { return connectedWithFans(f, 0); },
       .isMacBookAir = true},
      {.name = "connected-overflowing",
       .prepare = connectedInManualMode,
       .open = {"optionsPanel", "languagePanel"},
       .maxHeight = 640},
      {.name = "options-language",
       .prepare = [](PopoverFixture& f) { return connectedWithFans(f, 1); },
       .open = {"optionsPanel", "languagePanel"}},
  };
}

bool render(QQmlEngine& engine, const Scene& scene, zephro::Appearance appearance,
            const QString& path) {
  PopoverFixture fixture;
  fixture.settings()->setDisableLiquidGlass(scene.solid);
  if (!scene.prepare(fixture)) {
    std::fprintf(stderr, "%s: the popover did not reach its state\n", scene.name);
    return false;
  }
  QGuiApplication::setPalette(zephro::paletteFor(appearance));

  QQuickView view(&engine, nullptr);
  view.setColor(Qt::transparent);
  view.setResizeMode(QQuickView::SizeViewToRootObject);
  view.setInitialProperties({{"fixture", QVariant::fromValue(&fixture)},
                             {"isMacBookAir", scene.isMacBookAir},
                             {"maxHeight", scene.maxHeight}});
  view.setSource(QUrl(QStringLiteral("qrc:/qt/qml/Zephro/Screenshots/ScreenshotScene.qml")));
  if (view.status() != QQuickView::Ready) {
    for (const auto& error : view.errors())
      std::fprintf(stderr, "%s\n", qPrintable(error.toString()));
    return false;
  }
  for (const char* panel : scene.open) {
    auto* item = view.rootObject()->findChild<QQuickItem*>(QString::fromLatin1(panel));
    if (!item) return false;
    QMetaObject::invokeMethod(item, "setExpanded", Q_ARG(QVariant, true));
  }
  view.show();
  // Let the layout settle (and a scroll bar appear where the content overflows).
  waitFor([&] { return view.isExposed(); });
  if (auto* bar = view.rootObject()->findChild<QObject*>(QStringLiteral("scrollBar"))) {
    bar->setProperty("active", true);
  }
  return zephro::screenshots::saveSettled(view, 300, path);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Scene> all = scenes();
  // One engine for every picture, made once the application exists.
  std::unique_ptr<QQmlEngine> engine;
  return zephro::screenshots::runScreenshots(
      argc, argv, QStringLiteral("popover"), zephro::screenshots::sceneNames(all),
      [&](qsizetype scene, zephro::Appearance appearance, const QString& path) {
        if (!engine) {
          engine = std::make_unique<QQmlEngine>();
          engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        }
        return render(*engine, all.at(static_cast<std::size_t>(scene)), appearance, path);
      });
}
