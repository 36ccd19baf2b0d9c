#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/TrafficTrace.h"
#include "output/ConnectionDisplay.h"
#include "platform/Clock.h"
#include "platform/Controls.h"
#include "state/ProgramState.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// The alarm server's connection: the gateway listens, the alarm server connects, and a newer
// connection replaces an older one. Everything sent to the alarm server goes out here.
// A host outside OstrelAllowedHosts is refused and leaves the current connection alone.
//
// Push-back: while more than SendHighWater bytes wait unsent, the TCP input ports are paused
// (TCP flow control then holds the equipment back) until SendQueueLow. A connection that
// ends with lines unsent puts them back in front of the kept lines.
class OstrelConnection {
 public:
  OstrelConnection(ProgramState& state, const Clock& clock, const Controls& controls, LogFile& log,
                   TrafficTrace& trace, StatusBarView& statusBar, ConnectionDisplay& display);

  // Sets the handlers of the listening and the data socket.
  void Attach();

  // The alarm server counts as connected while the data socket reports Connected.
  bool IsConnected() const;

  // Traces, sends and counts the text; does nothing at all while not connected.
  void SendToOstrel(std::string_view text);

  // Sends the kept lines in one piece once an alarm server is connected, and forgets them.
  void FlushPendingOstrelText();

  // Event handlers.
  void ConnectionRequest(int32_t requestId);
  void Close();
  void Error(const std::string& description);
  void DataArrival(std::string_view bytes);
  void SendQueueLow();

  // Writes the byte counters into the status bar if they changed since the last call (the
  // supervision tick calls it, so a burst formats the text once per tick, not once a line).
  void ShowByteCounters();

  bool InputHeld() const { return inputHeld_; }

 private:
  void HoldInput(bool hold);
  void EndConnection();
  void PutBackUnsentLines(std::string unsent);

  ProgramState& state_;
  const Controls& controls_;
  LogFile& log_;
  TrafficTrace& trace_;
  StatusBarView& statusBar_;
  ConnectionDisplay& display_;
  std::string counterText_;  // reused for every status text
  bool countersChanged_ = false;
  bool inputHeld_ = false;
  RefusalLogLimiter refusals_;
};

}  // namespace tarvel
