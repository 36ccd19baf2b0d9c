#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QTreeWidget>
#include <vector>

#include "diag/TrafficTrace.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"
#include "ui/qt/QtMainWindow.h"

namespace tarvel {
namespace {

// The main window, and a debug window of its own for the tests of that window alone.
class QtWindowsTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string programPath_ = folder_.Path();
  FakeClock clock_;
  QtMainWindow window_{clock_, programPath_};
  QtDebugWindow debug_{clock_, programPath_};
};

TEST_F(QtWindowsTest, MainWindowShowsRowsPanelsAndCaptionAndStaysOpenUntilHidden) {
  QTreeWidget* list = window_.ConnectionList();
  EXPECT_EQ(window_.AddRow("Port 0 J\xC4N"), 0);
  EXPECT_EQ(window_.AddRow("Serial"), 1);
  window_.SetSubItem(0, ConnectionListView::StatusColumn, "Waiting for connection at port 4001");
  window_.SetSubItem(1, ConnectionListView::RxBytesColumn, "65535");
  window_.SetSubItem(5, 1, "no such row");
  window_.SetSubItem(1, 4, "no such column");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QString::fromUtf8("Port 0 J\u00C4N"));
  EXPECT_EQ(list->topLevelItem(0)->text(1), "Waiting for connection at port 4001");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "65535");

  window_.SetPanelText(StatusBarView::ConnectionPanel, "Waiting");
  window_.SetPanelText(StatusBarView::CounterPanel, "Ostrel TxBytes:12, RxBytes:0");
  EXPECT_EQ(window_.Panel(1)->text(), "Waiting");
  EXPECT_EQ(window_.Panel(2)->text(), "Ostrel TxBytes:12, RxBytes:0");

  std::vector<int> reasons;
  window_.SetCloseHandler([&](int reason) { reasons.push_back(reason); });
  window_.SetCaption("TARVEL80 \xC4");
  EXPECT_EQ(window_.windowTitle(), QString::fromUtf8("TARVEL80 \u00C4"));
  window_.show();
  window_.ExitAction()->trigger();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(window_.close()) << "the close box does not close by itself";
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(reasons,
            (std::vector<int>{QtMainWindow::ExitMenuReason, QtMainWindow::CloseBoxReason}));
  window_.Hide();
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(QtWindowsTest, DebugMenuOpensAndClosesTheDebugWindowAfresh) {
  QtDebugWindow& debug = window_.DebugWindow();
  window_.DebugAction()->trigger();
  EXPECT_TRUE(window_.DebugChecked());
  EXPECT_TRUE(debug.isVisible());
  EXPECT_TRUE(window_.ShowLastChecked());
  debug.AddItem("kept");
  debug.ShowLastAction()->trigger();
  EXPECT_FALSE(window_.ShowLastChecked()) << "the logic reads the debug window's check";

  window_.DebugAction()->trigger();
  EXPECT_FALSE(window_.DebugChecked());
  EXPECT_FALSE(debug.isVisible());
  EXPECT_EQ(debug.ListCount(), 0) << "rows are discarded on close";

  window_.MenuDebugClick();
  EXPECT_TRUE(window_.DebugChecked());
  EXPECT_TRUE(window_.ShowLastChecked()) << "opened as designed";
  EXPECT_EQ(debug.parentWidget(), nullptr) << "not owned by the main window";

  debug.AddItem("row");
  debug.close();  // the close box
  EXPECT_FALSE(window_.DebugChecked());
  EXPECT_EQ(debug.ListCount(), 0);
}

// "Show last" selects and scrolls to the newest row once the event loop runs, unless it has gone;
// rows keep their ISO 8859-1 text.
TEST_F(QtWindowsTest, ShowLastScrollsToTheNewestRowAndRowsKeepLatin1Text) {
  debug_.AddItem("a");
  debug_.SetListIndex(0);
  debug_.RemoveItem(0);
  QApplication::processEvents();
  EXPECT_EQ(debug_.List()->currentRow(), -1) << "a pending selection of a removed row is dropped";

  debug_.Open();
  InMemoryMenuChecks menus;
  menus.SetDebugChecked(true);
  TrafficTrace trace(clock_, debug_, menus);
  for (int i = 0; i < 50; ++i) trace.AddDebugLine("row " + std::to_string(i));
  EXPECT_EQ(debug_.ListCount(), 50) << "counted at once";
  QApplication::processEvents();
  EXPECT_EQ(debug_.List()->currentRow(), 49);
  const QScrollBar* scroll = debug_.List()->verticalScrollBar();
  EXPECT_EQ(scroll->value(), scroll->maximum());

  debug_.AddItem("J\xC4N");
  debug_.RemoveItem(0);
  debug_.RemoveItem(70);
  EXPECT_EQ(debug_.Item(49), "J\xC4N");
  EXPECT_EQ(debug_.List()->item(49)->text(), QString::fromUtf8("J\u00C4N"));
  EXPECT_EQ(debug_.Item(70), "");
  debug_.ClearAction()->trigger();
  EXPECT_EQ(debug_.ListCount(), 0);
}

// The block's text is the saver's test; here the menu entry and the operator's message.
TEST_F(QtWindowsTest, FailedSaveTellsTheOperator) {
  debug_.AddItem("one");
  debug_.SaveAction()->trigger();
  EXPECT_NE(folder_.ReadFile("debug.txt").find("000 one\r\n"), std::string::npos);
  EXPECT_TRUE(debug_.findChildren<QMessageBox*>().isEmpty());
  programPath_ = folder_.Path() + "missing/";
  EXPECT_FALSE(debug_.MenuSaveClick());
  EXPECT_EQ(debug_.ListCount(), 1);
  const QList<QMessageBox*> boxes = debug_.findChildren<QMessageBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0]->text().contains("debug.txt"));
  boxes[0]->close();
}

}  // namespace
}  // namespace tarvel
