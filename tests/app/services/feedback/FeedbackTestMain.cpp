// The feedback form's QML module, sending to a local server (telemetryServer in QML).
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>
#include <QQmlContext>
#include <QQmlEngine>
#include <memory>

#include "tests/support/LocalHttpServer.h"
#include "tests/support/QuickTestSetup.h"

Q_IMPORT_QML_PLUGIN(Zephro_FeedbackPlugin)

namespace {

const QString kFeedback = QStringLiteral("/telemetry/feedback");

class Setup : public zephro::testing::QuickTestSetup {
  Q_OBJECT

 public:
  Q_INVOKABLE void answer(int status) { server_->answerPosts(kFeedback, status); }
  Q_INVOKABLE QStringList posted() const {
    QStringList bodies;
    for (const QByteArray& body : server_->posted(kFeedback)) bodies << QString::fromUtf8(body);
    return bodies;
  }

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine) {
    QuickTestSetup::qmlEngineAvailable(engine);
    // Before the telemetry settings are first made, so they send here.
    server_ = std::make_unique<zephro::testing::LocalHttpServer>();
    qputenv("ZEPHRO_TELEMETRY_URL", server_->url(QString()).toString().toUtf8());
    engine->rootContext()->setContextProperty(QStringLiteral("telemetryServer"), this);
  }

 private:
  std::unique_ptr<zephro::testing::LocalHttpServer> server_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(feedback, Setup)

#include "FeedbackTestMain.moc"
