#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>

#include "diag/TrafficTrace.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"
#include "ui/qt/QtDebugWindow.h"

namespace tarvel {
namespace {

class QtDebugWindowTest : public ::testing::Test {
 protected:
  QtDebugWindowTest() { menus_.SetDebugChecked(true); }

  TempFolder folder_;
  std::string programPath_ = folder_.Path();
  FakeClock clock_;
  InMemoryMenuChecks menus_;
  QtDebugWindow window_{clock_, programPath_};
};

// With "show last" the trace selects the newest row; the selection waits for the event loop,
// which then scrolls to it, unless the row has gone meanwhile. Rows keep their ISO 8859-1 text.
TEST_F(QtDebugWindowTest, ShowLastScrollsToTheNewestRowAndRowsKeepLatin1Text) {
  window_.AddItem("a");
  window_.SetListIndex(0);
  window_.RemoveItem(0);
  QApplication::processEvents();
  EXPECT_EQ(window_.List()->currentRow(), -1) << "a pending selection of a removed row is dropped";

  window_.Open();
  TrafficTrace trace(clock_, window_, menus_);
  for (int i = 0; i < 50; ++i) trace.AddDebugLine("row " + std::to_string(i));
  EXPECT_EQ(window_.ListCount(), 50) << "counted at once";
  QApplication::processEvents();
  EXPECT_EQ(window_.List()->currentRow(), 49);
  const QScrollBar* scroll = window_.List()->verticalScrollBar();
  EXPECT_EQ(scroll->value(), scroll->maximum());

  window_.AddItem("J\xC4N");
  window_.RemoveItem(0);
  window_.RemoveItem(70);
  EXPECT_EQ(window_.Item(49), "J\xC4N");
  EXPECT_EQ(window_.List()->item(49)->text(), QString::fromUtf8("J\u00C4N"));
  EXPECT_EQ(window_.Item(70), "");
  window_.ClearAction()->trigger();
  EXPECT_EQ(window_.ListCount(), 0);
}

// The block's text is the saver's test; here the menu entry and the operator's message.
TEST_F(QtDebugWindowTest, FailedSaveTellsTheOperator) {
  window_.AddItem("one");
  window_.SaveAction()->trigger();
  EXPECT_NE(folder_.ReadFile("debug.txt").find("000 one\r\n"), std::string::npos);
  EXPECT_TRUE(window_.findChildren<QMessageBox*>().isEmpty());
  programPath_ = folder_.Path() + "missing/";
  EXPECT_FALSE(window_.MenuSaveClick());
  EXPECT_EQ(window_.ListCount(), 1);
  const QList<QMessageBox*> boxes = window_.findChildren<QMessageBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0]->text().contains("debug.txt"));
  boxes[0]->close();
}

}  // namespace
}  // namespace tarvel
