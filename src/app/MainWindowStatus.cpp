#include "app/MainWindowStatus.h"

namespace tarvel {

MainWindowStatus::MainWindowStatus(ConnectionListView& connectionList, StatusBarView& statusBar)
    : connectionList_(connectionList), statusBar_(statusBar) {}

void MainWindowStatus::Show(const StatusSnapshot& status) {
  const auto cell = [this](int row, int column, const std::string& text) {
    std::string& shown = cells_[{row, column}];
    if (shown == text) return;
    connectionList_.SetSubItem(row, column, text);
    shown = text;
  };
  const auto panel = [this](int number, const std::string& text) {
    std::string& shown = panels_[number];
    if (shown == text) return;
    statusBar_.SetPanelText(number, text);
    shown = text;
  };
  for (const StatusSnapshot::Port& port : status.Ports) {
    if (port.Row == PortEntry::NoRow) continue;
    cell(port.Row, ConnectionListView::StatusColumn, port.Status);
    cell(port.Row, ConnectionListView::RxBytesColumn, port.RxBytes);
  }
  panel(StatusBarView::ConnectionPanel, status.TheOstrel.State);
  panel(StatusBarView::CounterPanel, status.TheOstrel.Counters);
}

}  // namespace tarvel
