#include "tools/zephro-screenshots/ScreenshotMain.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "app/ui/LocalizationManager.h"
#include "tests/support/QuickTestSetup.h"

namespace zephro::screenshots {

int runScreenshots(int argc, char** argv, const QString& prefix, const QStringList& scenes,
                   const DrawScene& draw) {
  testing::useStableRendering();
  const QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", QDir(config.path()).absolutePath().toLocal8Bit());
  const QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) return 1;
  LocalizationManager::shared().setLanguage(AppLanguage::english);
  bool ok = true;
  for (qsizetype scene = 0; scene < scenes.size(); ++scene) {
    for (const auto appearance : {Appearance::light, Appearance::dark}) {
      const QString path = out.filePath(
          QStringLiteral("%1-%2-%3.png")
              .arg(prefix, scenes.at(scene), appearance == Appearance::dark ? "dark" : "light"));
      if (draw(scene, appearance, path)) {
        std::printf("%s\n", qPrintable(path));
      } else {
        std::fprintf(stderr, "%s: could not draw %s\n", argv[0], qPrintable(path));
        ok = false;
      }
    }
  }
  return ok ? 0 : 1;
}

void settle(int milliseconds) {
  const QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool saveSettled(QQuickWindow& window, int milliseconds, const QString& path) {
  settle(milliseconds);
  const QImage image = window.grabWindow();
  return !image.isNull() && image.save(path);
}

}  // namespace zephro::screenshots
