#pragma once

#include <QObject>
#include <QTemporaryDir>

class QQmlEngine;

namespace zephro::testing {

// The same rendering on every machine, unless the environment says otherwise; call before the app.
void useStableRendering();

// A settings folder of the run's own, so that no choice of an earlier run carries over.
class QuickTestSetup : public QObject {
  Q_OBJECT

 public:
  QuickTestSetup();

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine);

 private:
  QTemporaryDir config_;
};

}  // namespace zephro::testing
