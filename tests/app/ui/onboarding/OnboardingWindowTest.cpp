#include <gtest/gtest.h>

#include <QtQml/qqmlextensionplugin.h>
#include <QQmlEngine>
#include <QQuickItem>
#include <fstream>

#include "app/ui/about/AboutWindowController.h"
#include "app/ui/onboarding/OnboardingWindowController.h"
#include "platform/defaults/UserDefaults.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/support/TempDir.h"

Q_IMPORT_QML_PLUGIN(Zephro_OnboardingPlugin)
Q_IMPORT_QML_PLUGIN(Zephro_AboutPlugin)

namespace zephro {
namespace {

class OnboardingWindowTest : public ::testing::Test {
 protected:
  OnboardingWindowTest() { engine.addImportPath(QStringLiteral("qrc:/qt/qml")); }

  testing::TempDir dir;
  UserDefaults defaults{QString::fromStdString((dir / "defaults.json").string())};
  QQmlEngine engine;
};

// The window goes by Continue on the last page or by closing it, and the page with its player
// after it; every showing starts again at the first page.
TEST_F(OnboardingWindowTest, EveryShowingRecordsTheFlagAndStartsAtTheFirstPage) {
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

TEST_F(OnboardingWindowTest, TheAboutPanelShowsTheIconAndTheVersionOfTheInformationFile) {
  const std::pair<const char*, const char*> cases[]{
      {R"({"CFBundleShortVersionString": "3.1.4"})", "Version 3.1.4"},
      {R"({"CFBundleVersion": "31"})", "Version 0"},
  };
  for (const auto& [info, line] : cases) {
    SCOPED_TRACE(info);
    const auto file = dir / "Info.json";
    std::ofstream(file) << info;
    qputenv("ZEPHRO_BUNDLE_INFO", QByteArray::fromStdString(file.string()));
    AboutWindowController about(engine);
    ASSERT_TRUE(about.show());
    const auto shown = [&](const char* item, const char* property) {
      return about.content()->findChild<QQuickItem*>(item)->property(property);
    };
    EXPECT_EQ(shown("version", "text").toString(), line);
    EXPECT_EQ(shown("icon", "status").toInt(), 1) << "the icon is among the resources (Ready)";
  }
  qunsetenv("ZEPHRO_BUNDLE_INFO");
}

}  // namespace
}  // namespace zephro
