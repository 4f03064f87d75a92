#include <gtest/gtest.h>
#include <QGuiApplication>

// Test main for code that draws or loads fonts: one QGuiApplication for the whole run,
// on the main thread, as the application has. Offscreen unless told otherwise, so that
// the test list can be read without a display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
