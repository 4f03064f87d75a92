#include <gtest/gtest.h>

#include <QGuiApplication>

// Appearance code sets the application palette, which needs a QGuiApplication
// (on the offscreen platform, as every test runs).
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery at build time runs this without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
