#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QTreeWidget>
#include <vector>

#include "fakes/FakeClock.h"
#include "ui/qt/QtMainWindow.h"

namespace tarvel {
namespace {

class QtMainWindowTest : public ::testing::Test {
 protected:
  FakeClock clock_;
  std::string programPath_ = "/nonexistent/";
  QtMainWindow window_{clock_, programPath_};
};

TEST_F(QtMainWindowTest, ConnectionListRowsAndStatusPanels) {
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
}

TEST_F(QtMainWindowTest, DebugMenuOpensAndClosesTheDebugWindowAfresh) {
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

TEST_F(QtMainWindowTest, ExitMenuAndCloseBoxCallTheHandlerAndStayOpenUntilHidden) {
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

}  // namespace
}  // namespace tarvel
