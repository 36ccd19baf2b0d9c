#pragma once

#include <map>
#include <string>
#include <utility>

#include "app/StatusSnapshot.h"
#include "ui/ConnectionListView.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// Shows the status model in the main window: each port's Status and "Rx bytes" cells, and the
// status bar's connection and counter panels. A cell is written only when its text changed
// since the last Show, so a window that is refreshed on every tick is not redrawn for nothing.
class MainWindowStatus {
 public:
  MainWindowStatus(ConnectionListView& connectionList, StatusBarView& statusBar);

  void Show(const StatusSnapshot& status);

 private:
  ConnectionListView& connectionList_;
  StatusBarView& statusBar_;
  // The texts last written, by row and column, and by panel; a cell not written is empty.
  std::map<std::pair<int, int>, std::string> cells_;
  std::map<int, std::string> panels_;
};

}  // namespace tarvel
