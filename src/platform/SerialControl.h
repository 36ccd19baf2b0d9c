#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvel {

// The result of a serial operation: Number 0 means success.
struct SerialError {
  int Number = 0;
  std::string Description;
  bool Failed() const { return Number != 0; }
};

// The logic's handlers of one serial port's events, delivered from the event loop, one at a
// time, never from inside another handler or an operation the logic calls.
struct SerialHandlers {
  // Bytes received, raw. The view is valid until the handler returns.
  std::function<void(std::string_view bytes)> OnComm;
  // The open device failed for good (a USB adapter pulled). Delivered once; the port is closed
  // afterwards and raises no further events.
  std::function<void(const std::string& description)> DeviceLost;
};

enum class SerialParity { None, Even, Odd, Mark, Space };
enum class SerialDataBits { Five = 5, Six = 6, Seven = 7, Eight = 8 };
enum class SerialStopBits { One, OneAndHalf, Two };

// How the line is framed: what the setting's "baud,parity,databits,stopbits" says.
struct SerialLineSettings {
  int32_t BaudRate = 9600;  // positive
  SerialParity Parity = SerialParity::None;
  SerialDataBits DataBits = SerialDataBits::Eight;
  SerialStopBits StopBits = SerialStopBits::One;
  bool operator==(const SerialLineSettings&) const = default;
};

// One serial port, modelled on the usual communications control: COM n is opened as the
// device configured for it (see the Qt implementation for the naming rule).
class SerialControl {
 public:
  virtual ~SerialControl() = default;

  virtual void SetHandlers(SerialHandlers handlers) = 0;

  virtual int16_t CommPort() const = 0;
  virtual SerialError SetCommPort(int16_t port) = 0;
  // Stored while closed and applied when opening; on an open port a device that cannot take
  // them gives an error.
  virtual SerialError SetSettings(const SerialLineSettings& settings) = 0;
  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both; another value gives an error.
  virtual SerialError SetHandshaking(int32_t handshaking) = 0;
  // Opens (true) or closes (false) the device. A device that does not exist, is busy or
  // cannot take the settings gives an error and PortOpen() stays false.
  virtual SerialError SetPortOpen(bool open) = 0;
  virtual bool PortOpen() const = 0;
};

}  // namespace tarvel
