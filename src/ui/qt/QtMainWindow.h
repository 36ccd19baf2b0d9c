#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "ui/ConnectionListView.h"
#include "ui/MainWindowView.h"
#include "ui/MenuChecks.h"
#include "ui/StatusBarView.h"
#include "ui/qt/QtDebugWindow.h"

class QAction;
class QLabel;
class QTimer;
class QTreeWidget;

namespace tarvel {

// The main window: the connection list above a status bar of four panels, the menus "&File"
// ("&Exit") and "&Show" ("&Debug"). It also keeps the debug window and serves both check marks
// the logic reads, so that the trace reads a single object. Texts from the logic are 8-bit
// characters (ISO 8859-1).
class QtMainWindow : public QMainWindow,
                     public ConnectionListView,
                     public StatusBarView,
                     public MainWindowView,
                     public MenuChecks {
  Q_OBJECT

 public:
  // Why the window wants to close, as passed to the close handler.
  static constexpr int CloseBoxReason = 0;
  static constexpr int ExitMenuReason = 1;

  // programPath is read at every save of the debug window and must outlive the window.
  QtMainWindow(const Clock& clock, const std::string& programPath);
  ~QtMainWindow() override;

  // The Exit menu entry and the close box call the handler and leave the window open: ending
  // the process is the handler's business. Without a handler the window simply closes.
  void SetCloseHandler(std::function<void(int reason)> handler);

  // The list the traffic trace writes to; it lives as long as this window.
  QtDebugWindow& DebugWindow() { return *debugWindow_; }

  // Menu handlers, public for the tests: Debug opens the debug window afresh or closes it.
  void MenuDebugClick();
  void MenuExitClick();

  QTreeWidget* ConnectionList() const { return list_; }
  QAction* ExitAction() const { return exitAction_; }
  QAction* DebugAction() const { return debugAction_; }
  // Panels 1 to 4, left to right.
  QLabel* Panel(int panel) const;
  // The system's short time format without seconds, as the time panel shows it.
  static QString ShortTimeFormat();

  // ConnectionListView
  int AddRow(const std::string& text) override;
  void SetSubItem(int row, int subItem, const std::string& text) override;
  // StatusBarView: panels 1 and 2; the date and time panels run by themselves.
  void SetPanelText(int panel, const std::string& text) override;
  // MainWindowView
  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  void SetExitCaption(const std::string& caption) override;
  void Hide() override;
  // MenuChecks
  bool DebugChecked() const override;
  void SetDebugChecked(bool checked) override;
  bool ShowLastChecked() const override;
  void SetShowLastChecked(bool checked) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Shares the list's width out to the columns whenever the list is resized.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildList();
  void BuildStatusBar();
  void BuildMenus();
  void UpdateDateAndTime();
  void FitColumns();

  std::unique_ptr<QtDebugWindow> debugWindow_;  // a window of its own, without a parent
  QTreeWidget* list_ = nullptr;
  QLabel* panels_[4] = {};
  QAction* exitAction_ = nullptr;
  QAction* debugAction_ = nullptr;
  QTimer* clockTimer_ = nullptr;
  std::function<void(int)> closeHandler_;
};

}  // namespace tarvel
