#pragma once

#include <cstdint>
#include <string>

#include "app/ConnectionDisplay.h"
#include "diag/LogFile.h"
#include "input/ReceivedDataProcessor.h"
#include "platform/Controls.h"
#include "state/ProgramState.h"

namespace tarvel {

// The socket events of the TCP input ports: WinsockConnect(n) listens for a server port's
// peer, WinsockData(n) carries the connection of a server or client port. At most one peer
// per port; nothing is ever sent to the equipment.
class TcpInputPorts {
 public:
  TcpInputPorts(const Controls& controls, LogFile& log, ConnectionDisplay& display,
                ReceivedDataProcessor& processor);

  // Sets the handlers of both sockets of every port.
  void Attach();

  void ConnectionRequest(int16_t port, int32_t requestId);
  void Connect(int16_t port);
  void DataArrival(int16_t port);
  void Close(int16_t port);
  void Error(int16_t port, const std::string& description);

 private:
  std::string Prefix(int16_t port) const;

  const Controls& controls_;
  LogFile& log_;
  ConnectionDisplay& display_;
  ReceivedDataProcessor& processor_;
};

}  // namespace tarvel
