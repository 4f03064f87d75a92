// Renders the five onboarding pages and the About panel, light and dark, into PNG files:
//   onboarding_screenshots OUTPUT_DIR
#include <QtQml/qqmlextensionplugin.h>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTemporaryDir>

#include "app/settings/AppearanceMode.h"
#include "app/ui/about/AboutWindowController.h"
#include "app/ui/onboarding/OnboardingPage.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "platform/defaults/UserDefaults.h"
#include "tools/zephro-screenshots/ScreenshotMain.h"

Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)

namespace {

constexpr int kPages = static_cast<int>(zephro::kOnboardingPages.size());

QImage onboardingPage(QQmlEngine& engine, int page) {
  const QTemporaryDir dir;
  zephro::UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
  zephro::OnboardingWindowController controller(engine, defaults);
  if (!controller.show()) return {};
  for (int step = 0; step < page; ++step) {
    QMetaObject::invokeMethod(controller.content(), "goForward");
  }
  // Long enough for the texts to settle and the clip to show a moment from its middle.
  zephro::screenshots::settle(2500);
  return controller.window().grabWindow();
}

QImage about(QQmlEngine& engine) {
  zephro::AboutWindowController controller(engine);
  if (!controller.show()) return {};
  zephro::screenshots::settle(400);
  return controller.window().grabWindow();
}

}  // namespace

int main(int argc, char** argv) {
  QStringList names;
  for (int page = 0; page < kPages; ++page) names.append(QStringLiteral("page%1").arg(page + 1));
  names.append(QStringLiteral("about"));
  return zephro::screenshots::runScreenshots(
      argc, argv, QStringLiteral("onboarding"), names,
      [&](qsizetype scene, zephro::Appearance appearance, const QString& path) {
        QGuiApplication::setPalette(zephro::paletteFor(appearance));
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        const QImage image =
            scene < kPages ? onboardingPage(engine, static_cast<int>(scene)) : about(engine);
        return !image.isNull() && image.save(path);
      });
}
