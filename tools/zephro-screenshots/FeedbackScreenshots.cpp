// Renders the feedback window in its states, light and dark, into PNG files:
//   feedback_screenshots OUTPUT_DIR
#include <QtQml/qqmlextensionplugin.h>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <functional>
#include <vector>

#include "app/services/feedback/FeedbackWindowController.h"
#include "app/settings/AppearanceMode.h"
#include "tools/zephro-screenshots/ScreenshotMain.h"

Q_IMPORT_QML_PLUGIN(Zephro_FeedbackPlugin)

namespace {

struct Scene {
  const char* name;
  std::function<void(QQuickItem&)> prepare;
};

std::vector<Scene> scenes() {
  return {
      {"empty", [](QQuickItem&) {}},
      {"written",
       [](QQuickItem& form) {
         form.setProperty("category", "idea");
         form.setProperty("message", QStringLiteral("A curve editor for the fans, with a point per "
                                                    "temperature, would make the machine quiet."));
         form.setProperty("contactEmail", "me@example.org");
       }},
      {"sent",
       [](QQuickItem& form) {
         form.setProperty("message", "It hums at 3000 RPM.");
         form.setProperty("sendResult", "success");
         form.setProperty("closeDelay", 1000000);
       }},
      {"failed",
       [](QQuickItem& form) {
         form.setProperty("message", QString(1000, QLatin1Char('m')));
         form.setProperty("sendResult", "failure");
       }},
  };
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Scene> all = scenes();
  return zephro::screenshots::runScreenshots(
      argc, argv, QStringLiteral("feedback"), zephro::screenshots::sceneNames(all),
      [&](qsizetype scene, zephro::Appearance appearance, const QString& path) {
        QGuiApplication::setPalette(zephro::paletteFor(appearance));
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        zephro::FeedbackWindowController controller(engine);
        if (!controller.show()) return false;
        all.at(static_cast<std::size_t>(scene)).prepare(*controller.content());
        return zephro::screenshots::saveSettled(controller.window(), 400, path);
      });
}
