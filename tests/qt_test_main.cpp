#include <QApplication>

#include <gtest/gtest.h>

// Qt layer tests need one application object for the event loop and the widgets.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
