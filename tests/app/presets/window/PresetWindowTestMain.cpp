// The preset manager's Qt Quick tests: the real QML module over a real view model and
// preset store (see PopoverFixture), on the offscreen platform with the software renderer.
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>
#include <QDir>
#include <QQmlEngine>
#include <QTemporaryDir>

Q_IMPORT_QML_PLUGIN(Zephro_PresetsPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PopoverTestPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_PresetsTestPlugin)

namespace {

void setDefault(const char* name, const char* value) {
  if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
}

class Setup : public QObject {
  Q_OBJECT

 public:
  Setup() {
    // A settings file of the run's own for the shared localization, so the texts are
    // English whatever an earlier run chose.
    setDefault("QT_QPA_PLATFORM", "offscreen");
    setDefault("QT_QUICK_BACKEND", "software");
    setDefault("QT_QUICK_CONTROLS_STYLE", "Basic");
    setDefault("QT_SCALE_FACTOR", "1");
    qputenv("XDG_CONFIG_HOME", QDir(config_.path()).absolutePath().toLocal8Bit());
  }

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine) {
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
  }

 private:
  QTemporaryDir config_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(presets, Setup)

#include "PresetWindowTestMain.moc"
