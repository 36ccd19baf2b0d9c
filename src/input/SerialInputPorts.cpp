#include "input/SerialInputPorts.h"

#include <optional>

#include "config/ConfigCheck.h"
#include "text/NumericValue.h"
#include "text/TextFields.h"

namespace tarvel {

SerialInputPorts::SerialInputPorts(std::span<InputPort> ports, LogFile& log)
    : ports_(ports), log_(log) {}

void SerialInputPorts::Attach() {
  for (InputPort& input : ports_) {
    const int16_t port = input.Number();
    SerialControl* serial = input.Transport().Serial;
    if (serial == nullptr) continue;
    SerialHandlers handlers;
    handlers.OnComm = [&input](std::string_view bytes) { input.Receive(bytes); };
    handlers.DeviceLost = [this, port](const std::string& description) {
      DeviceLost(port, description);
    };
    serial->SetHandlers(std::move(handlers));
  }
}

bool SerialInputPorts::OpenSerialPort(int16_t port, std::string* reason) {
  if (port < 0 || port >= static_cast<int16_t>(ports_.size())) return false;
  SerialControl* serial = ports_[port].Transport().Serial;
  if (serial == nullptr) return false;
  const std::string_view setting = ports_[port].Settings().ComSetting;
  auto field = [&](int index) { return GetFieldView(setting, index, ","); };
  bool failed = false;
  // Keeps the first step's reason for the caller's report.
  auto fails = [&](const SerialError& error, std::string_view what) {
    if (error.Failed() && reason != nullptr && reason->empty())
      *reason = std::string(what) + ": " + error.Description;
    return error.Failed();
  };
  const std::string_view portName = field(0);
  const std::optional<int16_t> commPort = ComPortNumber(portName);
  failed |= !commPort || fails(serial->SetCommPort(*commPort), portName);
  // Fields 1 to 4 as they stand, from after the first "," to before the fifth: the control
  // takes them as one text and splits it itself.
  const std::size_t start = setting.find(',');
  std::size_t end = start;
  for (int comma = 2; comma <= 5 && end != std::string_view::npos; ++comma) {
    end = setting.find(',', end + 1);
  }
  const std::string_view lineSettings =
      start == std::string_view::npos
          ? std::string_view{}
          : setting.substr(start + 1, end == std::string_view::npos ? std::string_view::npos
                                                                    : end - start - 1);
  failed |= fails(serial->SetSettings(std::string(lineSettings)), lineSettings);
  const std::optional<int32_t> handshaking = LongValue(field(5));
  failed |= !handshaking || fails(serial->SetHandshaking(*handshaking), field(5));
  failed |= fails(serial->SetPortOpen(true), portName);
  return !failed && serial->PortOpen();
}

void SerialInputPorts::DeviceLost(int16_t port, const std::string& description) {
  log_.WriteLog("Connection (" + std::to_string(port) + ") failed (" + description + ")");
}

}  // namespace tarvel
