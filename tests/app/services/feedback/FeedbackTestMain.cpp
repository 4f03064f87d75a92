// The feedback form's Qt Quick tests: the real QML module sending to a local HTTP server
// that stands in for the telemetry service (TelemetryServer in QML).
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

// The service as the tests see it: the status it answers with and what it was sent.
class TelemetryServer : public QObject {
  Q_OBJECT
  Q_PROPERTY(int status WRITE setStatus READ status)

 public:
  [[nodiscard]] int status() const { return status_; }
  void setStatus(int status) {
    status_ = status;
    server_.answerPosts(kFeedback, status);
  }
  [[nodiscard]] QUrl url() const { return server_.url(QString()); }
  Q_INVOKABLE int postedCount() const { return static_cast<int>(server_.posted(kFeedback).size()); }
  // The last body sent, as text.
  Q_INVOKABLE QString lastPosted() const {
    const auto posted = server_.posted(kFeedback);
    return posted.isEmpty() ? QString() : QString::fromUtf8(posted.last());
  }

 private:
  zephro::testing::LocalHttpServer server_;
  int status_ = 404;
};

class Setup : public zephro::testing::QuickTestSetup {
  Q_OBJECT

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine) {
    QuickTestSetup::qmlEngineAvailable(engine);
    // Before the telemetry settings are first made, so they send here.
    server_ = std::make_unique<TelemetryServer>();
    qputenv("ZEPHRO_TELEMETRY_URL", server_->url().toString().toUtf8());
    engine->rootContext()->setContextProperty(QStringLiteral("telemetryServer"), server_.get());
  }

 private:
  std::unique_ptr<TelemetryServer> server_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(feedback, Setup)

#include "FeedbackTestMain.moc"
