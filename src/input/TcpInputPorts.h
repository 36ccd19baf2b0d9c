#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/RejectedLineLog.h"
#include "input/InputPort.h"
#include "platform/Clock.h"

namespace tarvel {

// The socket events of the TCP input ports: a port's Listener (WinsockConnect(n)) listens for a
// server port's peer, its Data socket (WinsockData(n)) carries the connection of a server or
// client port. At most one peer
// per port, and only from a host in the port's AllowedHosts; nothing is ever sent to the
// equipment. connectionChanged is called whenever a port's connection may have changed (not
// on a refusal), so that the windows show it at once.
class TcpInputPorts {
 public:
  TcpInputPorts(const Clock& clock, std::span<InputPort> ports, LogFile& log,
                std::function<void()> connectionChanged);

  // Sets the handlers of both sockets of every port; received bytes go straight to the port.
  void Attach();

  void ConnectionRequest(int16_t port, int32_t requestId);
  void Connect(int16_t port);
  void Close(int16_t port);
  void Error(int16_t port, const std::string& description);

  // Logs how many connection events were held back on each port whose flood is over (tick).
  void WriteHeldBackCounts() { connectionLog_.WriteHeldBackCounts(); }

 private:
  std::string Prefix(int16_t port) const;

  std::span<InputPort> ports_;
  LogFile& log_;
  std::function<void()> connectionChanged_;
  RefusalLogLimiter refusals_;     // keyed by port number and peer address
  RejectedLineLog connectionLog_;  // accepted, established, closed and failed, per port
};

}  // namespace tarvel
