#include <gtest/gtest.h>

#include <QtQml/qqmlextensionplugin.h>
#include <QQmlEngine>
#include <QQuickItem>

#include "app/ui/onboarding/OnboardingWindowController.h"
#include "platform/defaults/UserDefaults.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/support/TempDir.h"

Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)

namespace zephro {
namespace {

// The window goes by Continue on the last page or by closing it, and its page's player with it.
TEST(OnboardingWindowTest, EveryShowingRecordsTheFlagAndStartsAtTheFirstPage) {
  const testing::TempDir dir;
  UserDefaults defaults{QString::fromStdString((dir / "defaults.json").string())};
  QQmlEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  OnboardingWindowController controller(engine, defaults);
  for (const bool byContinue : {true, false, true}) {
    SCOPED_TRACE(byContinue);
    ASSERT_TRUE(controller.show());
    EXPECT_TRUE(controller.isVisible());
    EXPECT_TRUE(controller.window().flags().testFlag(Qt::WindowStaysOnTopHint));
    QQuickItem* const view = controller.content();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->property("page").toInt(), 0);
    for (int page = 0; page < 4; ++page) QMetaObject::invokeMethod(view, "goForward");

    byContinue ? void(QMetaObject::invokeMethod(view, "goForward"))
               : void(controller.window().close());
    EXPECT_FALSE(controller.isVisible());
    EXPECT_TRUE(testing::spinUntil([&] { return controller.content() == nullptr; }));
  }
}

}  // namespace
}  // namespace zephro
