#pragma once

#include <cstdint>

#include "state/Controls.h"
#include "state/ProgramState.h"
#include "ui/ConnectionListView.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// What the main window shows of the connections: the Status column of each port's row and the
// alarm-server panel of the status bar, read from the sockets' present state on every call.
class ConnectionDisplay {
 public:
  ConnectionDisplay(const ProgramState& state, const Controls& controls,
                    ConnectionListView& connectionList, StatusBarView& statusBar);

  // Writes the Status column of port n's row; nothing for a port that is not used.
  void ShowTCPConnectionState(int16_t port);
  // Writes the alarm-server connection state into panel 1.
  void ShowOstrelConnectionState();

 private:
  const ProgramState& state_;
  const Controls& controls_;
  ConnectionListView& connectionList_;
  StatusBarView& statusBar_;
};

}  // namespace tarvel
