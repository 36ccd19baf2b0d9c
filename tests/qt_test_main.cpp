#include <QApplication>

#include <gtest/gtest.h>

// Qt layer tests need one application object for the event loop and the widgets.
// Test discovery runs the executable outside ctest's environment, so the offscreen platform is
// chosen here too: the tests never need a display.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
