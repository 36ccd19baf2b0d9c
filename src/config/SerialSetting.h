#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SerialControl.h"

namespace tarvel {

// A serial port's ComSetting "COMn,baud,parity,databits,stopbits[,handshaking]", read once.
struct SerialSetting {
  std::string PortName;   // the first field as written, e.g. "COM3", for messages
  int16_t ComNumber = 1;  // the n of COMn, 1 to 32767
  SerialLineSettings Line;
  // "baud,parity,databits,stopbits" with the baud rate's leading zeros and the blanks dropped
  // and the parity letter in the case written, e.g. "9600,o,5,1.5", for messages.
  std::string LineText;
  int16_t Handshaking = 0;  // 0 to 3; missing: 0
};

// A ComSetting read: the setting, or why it cannot be used.
struct ComSettingReading {
  std::optional<SerialSetting> Setting;
  std::string Problem;  // empty when there is a setting
};

// Every field is checked whole, and nothing may follow the last one. The port name is "COM"
// in any letter case and the number in digits only, 1 to 32767, blanks around it allowed.
ComSettingReading ReadComSetting(std::string_view text);

// The device each COM number opens: the ones [SerialDevices] names, else /dev/ttyS(n-1), so
// COM1 is the first on-board port, as on the machines the COM numbers come from.
class SerialDevices {
 public:
  SerialDevices() = default;
  explicit SerialDevices(std::map<int, std::string> named) : named_(std::move(named)) {}

  std::string DeviceOf(int comNumber) const;
  const std::map<int, std::string>& Named() const { return named_; }

 private:
  std::map<int, std::string> named_;
};

}  // namespace tarvel
