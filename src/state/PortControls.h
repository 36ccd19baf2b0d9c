#pragma once

#include <array>
#include <memory>

#include "state/Controls.h"

namespace tarvel {

// The one place that builds the controls of the eight ports and of the alarm server and wires
// them into Controls: main with the Qt controls, tests, fuzzers and benchmarks with theirs.
// makeSocket() and makeSerial() return a std::unique_ptr of Socket and Serial.
template <typename Socket, typename Serial>
class PortControls {
 public:
  template <typename MakeSocket, typename MakeSerial>
  PortControls(MakeSocket makeSocket, MakeSerial makeSerial)
      : ostrelConnect_(makeSocket()), ostrelData_(makeSocket()) {
    for (int port = 0; port < PortCount; ++port) {
      connect_[port] = makeSocket();
      data_[port] = makeSocket();
      serial_[port] = makeSerial();
      wired_.WinsockConnect[port] = connect_[port].get();
      wired_.WinsockData[port] = data_[port].get();
      wired_.MSComm[port] = serial_[port].get();
    }
    wired_.WinsockOstrelConnect = ostrelConnect_.get();
    wired_.WinsockOstrelData = ostrelData_.get();
  }

  const Controls& Wired() const { return wired_; }
  Socket& WinsockConnect(int port) { return *connect_[port]; }
  Socket& WinsockData(int port) { return *data_[port]; }
  Serial& MSComm(int port) { return *serial_[port]; }
  Socket& WinsockOstrelConnect() { return *ostrelConnect_; }
  Socket& WinsockOstrelData() { return *ostrelData_; }

 private:
  std::array<std::unique_ptr<Socket>, PortCount> connect_;
  std::array<std::unique_ptr<Socket>, PortCount> data_;
  std::array<std::unique_ptr<Serial>, PortCount> serial_;
  std::unique_ptr<Socket> ostrelConnect_;
  std::unique_ptr<Socket> ostrelData_;
  Controls wired_;
};

}  // namespace tarvel
