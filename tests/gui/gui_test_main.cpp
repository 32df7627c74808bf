#include <QApplication>
#include <gtest/gtest.h>

// GUI tests run without a display unless one is asked for explicitly.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("orbelan");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
