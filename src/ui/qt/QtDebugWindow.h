#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

#include "diag/DebugSave.h"
#include "platform/Clock.h"
#include "ui/DebugListView.h"

class QAction;
class QListWidget;
class QListWidgetItem;

namespace tarvel {

// The debug window: one list of trace rows filling the window, and the "&File" menu to save,
// to choose whether the newest row is scrolled into view, and to clear. It is a window of its
// own, not owned by the main window. The main window keeps one instance for its whole life and
// "opens" it afresh from the design each time (empty list, "&Always show last row" checked), so
// the trace can hold on to this list.
class QtDebugWindow : public QMainWindow, public DebugListView {
  Q_OBJECT

 public:
  // programPath is read at every save (the folder of "debug.txt") and must outlive the window.
  QtDebugWindow(const Clock& clock, const std::string& programPath);
  ~QtDebugWindow() override;

  // Shows the window as designed: empty list, "&Always show last row" checked.
  void Open();
  // Called after the window has been closed in any way (Form_Unload); its rows are gone by then.
  void SetUnloadHandler(std::function<void()> handler) { unloadHandler_ = std::move(handler); }

  bool ShowLastChecked() const;
  void SetShowLastChecked(bool checked);

  // Menu handlers, public for the tests. MenuSaveClick tells the operator when the file could
  // not be written and returns false.
  bool MenuSaveClick();
  void MenuClearClick();

  QAction* SaveAction() const { return saveAction_; }
  QAction* ShowLastAction() const { return showLastAction_; }
  QAction* ClearAction() const { return clearAction_; }
  QListWidget* List() const { return list_; }

  // DebugListView; the texts are 8-bit characters (ISO 8859-1).
  void AddItem(const std::string& text) override;
  void RemoveItem(int index) override;
  int ListCount() const override;
  std::string Item(int index) const override;
  void SetListIndex(int index) override;
  void Clear() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void ScrollToPending();

  DebugSave save_;
  const std::string& programPath_;
  QListWidget* list_;
  QAction* saveAction_ = nullptr;
  QAction* showLastAction_ = nullptr;
  QAction* clearAction_ = nullptr;
  std::function<void()> unloadHandler_;
  QListWidgetItem* pendingItem_ = nullptr;  // row to select once the current burst is in
  bool scrollPosted_ = false;
};

}  // namespace tarvel
