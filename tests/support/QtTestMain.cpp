#include <gtest/gtest.h>
#include <QCoreApplication>

// One QCoreApplication for the whole run, on the main thread, as the application has.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
