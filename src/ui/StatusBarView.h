#pragma once

#include <string>

namespace tarvel {

// The status bar of the main window. Panels 1 and 2 are texts written by the logic: the
// alarm-server connection state and its byte counters. Panels 3 and 4 (date, time) run by
// themselves.
class StatusBarView {
 public:
  static constexpr int ConnectionPanel = 1;
  static constexpr int CounterPanel = 2;

  virtual ~StatusBarView() = default;
  virtual void SetPanelText(int panel, const std::string& text) = 0;
};

}  // namespace tarvel
