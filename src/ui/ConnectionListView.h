#pragma once

#include <string>

namespace tarvel {

// The connection list: one row per opened input port, columns "Description", "Status",
// "Tx bytes", "Rx bytes". Served by the main window, or in memory when there is no display.
class ConnectionListView {
 public:
  static constexpr int StatusColumn = 1;
  static constexpr int TxBytesColumn = 2;
  static constexpr int RxBytesColumn = 3;

  virtual ~ConnectionListView() = default;
  // Adds a row with the text as its Description and returns its row number (0, 1, ...).
  virtual int AddRow(const std::string& text) = 0;
  // Sets the text of sub-item 1 to 3 of a row.
  virtual void SetSubItem(int row, int subItem, const std::string& text) = 0;
};

}  // namespace tarvel
