// The popover's Qt Quick tests: the real QML module over a real view model (see
// PopoverFixture), on the offscreen platform with the software renderer.
#include <QDir>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(Zephro_PopoverPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)

namespace {

void setDefault(const char* name, const char* value) {
  if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
}

class Setup : public QObject {
  Q_OBJECT

 public:
  Setup() {
    // Before the application exists: the platform, and a settings file of the run's own
    // for the shared localization, so no choice of an earlier run carries over.
    setDefault("QT_QPA_PLATFORM", "offscreen");
    setDefault("QT_QUICK_BACKEND", "software");
    setDefault("QT_QUICK_CONTROLS_STYLE", "Basic");
    setDefault("QT_SCALE_FACTOR", "1");
    qputenv("XDG_CONFIG_HOME", QDir(config_.path()).absolutePath().toLocal8Bit());
  }

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine) { engine->addImportPath(QStringLiteral("qrc:/qt/qml")); }

 private:
  QTemporaryDir config_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(popover, Setup)

#include "PopoverTestMain.moc"
