#include <gtest/gtest.h>
#include <QGuiApplication>

// One QGuiApplication on the main thread, as the app has; offscreen so tests list without display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
