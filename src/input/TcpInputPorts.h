#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/RejectedLineLog.h"
#include "input/ReceivedDataProcessor.h"
#include "platform/Clock.h"
#include "state/Controls.h"
#include "state/ProgramState.h"

namespace tarvel {

// The socket events of the TCP input ports: WinsockConnect(n) listens for a server port's
// peer, WinsockData(n) carries the connection of a server or client port. At most one peer
// per port, and only from a host in the port's AllowedHosts; nothing is ever sent to the
// equipment. connectionChanged is called whenever a port's connection may have changed (not
// on a refusal), so that the windows show it at once.
class TcpInputPorts {
 public:
  TcpInputPorts(const ProgramState& state, const Clock& clock, const Controls& controls,
                LogFile& log, std::function<void()> connectionChanged,
                ReceivedDataProcessor& processor);

  // Sets the handlers of both sockets of every port.
  void Attach();

  void ConnectionRequest(int16_t port, int32_t requestId);
  void Connect(int16_t port);
  void DataArrival(int16_t port, std::string_view bytes);
  void Close(int16_t port);
  void Error(int16_t port, const std::string& description);

  // Logs how many connection events were held back on each port whose flood is over (tick).
  void WriteHeldBackCounts() { connectionLog_.WriteHeldBackCounts(); }

 private:
  std::string Prefix(int16_t port) const;

  const ProgramState& state_;
  const Controls& controls_;
  LogFile& log_;
  std::function<void()> connectionChanged_;
  ReceivedDataProcessor& processor_;
  RefusalLogLimiter refusals_;     // keyed by port number and peer address
  RejectedLineLog connectionLog_;  // accepted, established, closed and failed, per port
};

}  // namespace tarvel
