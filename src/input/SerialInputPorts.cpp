#include "input/SerialInputPorts.h"

#include <optional>

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
  // The check refuses a serial port without a usable setting before it is opened.
  const std::optional<SerialSetting>& setting = ports_[port].Settings().Serial;
  if (!setting) return false;
  // Keeps the first step's reason for the caller's report.
  auto fails = [&](const SerialError& error, std::string_view what) {
    if (error.Failed() && reason != nullptr && reason->empty())
      *reason = std::string(what) + ": " + error.Description;
    return error.Failed();
  };
  bool failed = fails(serial->SetCommPort(setting->ComNumber), setting->PortName);
  failed |= fails(serial->SetSettings(setting->Line), setting->LineText);
  failed |=
      fails(serial->SetHandshaking(setting->Handshaking), std::to_string(setting->Handshaking));
  failed |= fails(serial->SetPortOpen(true), setting->PortName);
  return !failed && serial->PortOpen();
}

void SerialInputPorts::DeviceLost(int16_t port, const std::string& description) {
  log_.WriteLog("Connection (" + std::to_string(port) + ") failed (" + description + ")");
}

}  // namespace tarvel
