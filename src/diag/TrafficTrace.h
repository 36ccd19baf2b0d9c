#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "ui/DebugListView.h"
#include "ui/MenuChecks.h"

namespace tarvel {

// Feeds the debug window: every received and sent piece of text, rendered with control
// characters visible. The "&Debug" check mark is the only switch; with it off nothing is kept.
class TrafficTrace {
 public:
  static constexpr int16_t Received = 0;
  static constexpr int16_t Sent = 1;
  static constexpr int16_t OstrelPort = -1;  // the alarm-server channel

  TrafficTrace(const Clock& clock, DebugListView& list, MenuChecks& menus);

  // Port 0..7 for an input port, OstrelPort for the alarm server. Inline: every reception and
  // every line sent is traced, and with the debug window closed this must cost nothing.
  void TraceTraffic(int16_t port, std::string_view data, int16_t direction) {
    if (On() && !data.empty()) Render(port, data, direction);
  }
  void AddDebugLine(const std::string& text);
  // Whether anything is traced now: the debug window is open.
  bool On() const { return menus_.DebugChecked(); }

 private:
  void Render(int16_t port, std::string_view data, int16_t direction);

  const Clock& clock_;
  DebugListView& list_;
  MenuChecks& menus_;
};

}  // namespace tarvel
