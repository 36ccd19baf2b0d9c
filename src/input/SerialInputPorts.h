#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "input/InputPort.h"

namespace tarvel {

// Serial input ports: opened once at start-up from their ComSetting, then only receiving.
class SerialInputPorts {
 public:
  SerialInputPorts(std::span<InputPort> ports, LogFile& log);

  // Sets the handlers of every serial port; received bytes go straight to the port.
  void Attach();

  // Sets CommPort, Settings and Handshaking from the port's serial setting and opens the port.
  // Every step is tried; false when any of them failed, the port is not open afterwards or it
  // has no usable setting.
  bool OpenSerialPort(int16_t port, std::string* reason = nullptr);

  // The device went away for good: logged once, the port stays silent from then on.
  void DeviceLost(int16_t port, const std::string& description);

 private:
  std::span<InputPort> ports_;
  LogFile& log_;
};

}  // namespace tarvel
