#pragma once

#include <QObject>
#include <QTemporaryDir>

class QQmlEngine;

namespace zephro::testing {

// Rendering that looks the same on every machine: the offscreen platform, the software
// renderer, the Basic controls style and no scaling, unless the environment says otherwise.
// Call before the application exists.
void useStableRendering();

// The setup of a Qt Quick Test program (QUICK_TEST_MAIN_WITH_SETUP): stable rendering, a
// settings folder of the run's own, so no choice of an earlier run carries over, and the
// application's QML modules on the import path.
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
