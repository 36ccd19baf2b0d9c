#include <gtest/gtest.h>

#include <QApplication>

// Qt layer tests need one application object for the event loop and the widgets.
// Without a display (the build lists the tests by running this program) the widgets are drawn
// offscreen.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
