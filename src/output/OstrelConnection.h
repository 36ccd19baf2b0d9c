#pragma once

#include <cstdint>
#include <string>

#include "app/ConnectionDisplay.h"
#include "diag/LogFile.h"
#include "diag/TrafficTrace.h"
#include "platform/Controls.h"
#include "state/ProgramState.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// The alarm server's connection: the gateway listens, the alarm server connects, and a newer
// connection replaces an older one. Everything sent to the alarm server goes out here.
class OstrelConnection {
 public:
  OstrelConnection(ProgramState& state, const Controls& controls, LogFile& log, TrafficTrace& trace,
                   StatusBarView& statusBar, ConnectionDisplay& display);

  // Sets the handlers of the listening and the data socket.
  void Attach();

  // The alarm server counts as connected while the data socket reports Connected.
  bool IsConnected() const;

  // Traces, sends and counts the text; does nothing at all while not connected.
  void SendToOstrel(const std::string& text);

  // Sends the kept lines in one piece once an alarm server is connected, and forgets them.
  void FlushPendingOstrelText();

  // Event handlers.
  void ConnectionRequest(int32_t requestId);
  void Close();
  void Error(const std::string& description);
  void DataArrival();

 private:
  void ShowByteCounters();

  ProgramState& state_;
  const Controls& controls_;
  LogFile& log_;
  TrafficTrace& trace_;
  StatusBarView& statusBar_;
  ConnectionDisplay& display_;
  std::string counterText_;  // reused for every status text
};

}  // namespace tarvel
