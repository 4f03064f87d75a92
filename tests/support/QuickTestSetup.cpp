#include "tests/support/QuickTestSetup.h"

#include <QDir>
#include <QQmlEngine>

namespace zephro::testing {
namespace {

void setDefault(const char* name, const char* value) {
  if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
}

}  // namespace

void useStableRendering() {
  setDefault("QT_QPA_PLATFORM", "offscreen");
  setDefault("QT_QUICK_BACKEND", "software");
  setDefault("QT_QUICK_CONTROLS_STYLE", "Basic");
  setDefault("QT_SCALE_FACTOR", "1");
}

QuickTestSetup::QuickTestSetup() {
  useStableRendering();
  qputenv("XDG_CONFIG_HOME", QDir(config_.path()).absolutePath().toLocal8Bit());
}

void QuickTestSetup::qmlEngineAvailable(QQmlEngine* engine) {
  engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
}

}  // namespace zephro::testing
