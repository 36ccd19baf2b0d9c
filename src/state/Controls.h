#pragma once

#include <array>

#include "platform/SerialControl.h"
#include "platform/SocketControl.h"
#include "config/PortEntry.h"

namespace tarvel {

// The controls the logic works with, indexed by port number where there is one per port:
// WinsockConnect(n) listens for a TCP server port, WinsockData(n) carries a TCP port's
// connection, MSComm(n) is a serial port; the two Ostrel sockets listen for and carry the
// alarm server's connection. The owner (main or a test) keeps them alive.
struct Controls {
  std::array<SocketControl*, PortCount> WinsockConnect{};
  std::array<SocketControl*, PortCount> WinsockData{};
  SocketControl* WinsockOstrelConnect = nullptr;
  SocketControl* WinsockOstrelData = nullptr;
  std::array<SerialControl*, PortCount> MSComm{};
};

}  // namespace tarvel
