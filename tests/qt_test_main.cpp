#include <gtest/gtest.h>

#include <QApplication>

// Qt layer tests need one application object for the event loop and the widgets. They never
// need a display: offscreen unless the caller chose otherwise (ctest sets it for the runs, but
// not for the test listing at build time).
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
