// Renders the feedback window in its states, light and dark, into PNG files:
//   feedback_screenshots OUTPUT_DIR
#include <QtQml/qqmlextensionplugin.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/services/feedback/FeedbackWindowController.h"
#include "app/settings/AppearanceMode.h"
#include "app/ui/LocalizationManager.h"

Q_IMPORT_QML_PLUGIN(Zephro_FeedbackPlugin)

namespace {

void settle(int milliseconds) {
  const QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

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
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) qputenv("QT_QUICK_BACKEND", "software");
  qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
  qputenv("QT_SCALE_FACTOR", "1");
  const QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", QDir(config.path()).absolutePath().toLocal8Bit());
  const QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: feedback_screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) return 1;
  zephro::LocalizationManager::shared().setLanguage(zephro::AppLanguage::english);
  bool ok = true;
  for (const Scene& scene : scenes()) {
    for (const auto appearance : {zephro::Appearance::light, zephro::Appearance::dark}) {
      QGuiApplication::setPalette(zephro::paletteFor(appearance));
      QQmlEngine engine;
      engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
      zephro::FeedbackWindowController controller(engine);
      if (!controller.show()) return 1;
      scene.prepare(*controller.content());
      settle(400);
      const QString path =
          out.filePath(QStringLiteral("feedback-%1-%2.png")
                           .arg(QString::fromLatin1(scene.name),
                                appearance == zephro::Appearance::dark ? "dark" : "light"));
      const QImage image = controller.window().grabWindow();
      ok = !image.isNull() && image.save(path) && ok;
      std::printf("%s\n", qPrintable(path));
    }
  }
  return ok ? 0 : 1;
}
