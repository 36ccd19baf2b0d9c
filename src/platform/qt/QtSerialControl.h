#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/SerialControl.h"

class QObject;
class QSerialPort;

namespace tarvel {

// The serial control over QSerialPort, on the event loop's thread. The port is opened
// read-only: the gateway never sends on it.
//
// Settings: any positive baud rate (the device may refuse an unusual one when opening). Linux
// line settings know no 1.5 stop bits: the line then runs with 1, which receives frames sent
// with 1.5 all the same (the extra half bit reads as idle line). Handshaking 1 is XON/XOFF (the
// line then swallows the XON and XOFF bytes, 0x11 and 0x13); 2 and 3 are RTS/CTS, since the device
// offers one kind at a time and the hardware lines are the one that matters for a receiver.
//
// Receiving: each read notification takes at most ReadBufferBytes and hands them with OnComm,
// run at once when no handler runs; while that event waits, the bytes stay in Qt's buffer.
//
// A device that fails while open (a USB adapter pulled, the line hung up) raises DeviceLost
// once and is closed; it stays closed until the process restarts, even if the device comes back.
//
// Error numbers: Qt's serial port error code for errors of the device, 380 for an invalid
// value and 8005 for changing the port while it is open.
class QtSerialControl : public SerialControl {
 public:
  static constexpr int64_t ReadBufferBytes = 64 * 1024;

  // deviceName maps a COM port number to the device to open.
  explicit QtSerialControl(std::function<std::string(int commPort)> deviceName);
  ~QtSerialControl() override;
  QtSerialControl(const QtSerialControl&) = delete;
  QtSerialControl& operator=(const QtSerialControl&) = delete;

  void SetHandlers(SerialHandlers handlers) override;
  int16_t CommPort() const override;
  SerialError SetCommPort(int16_t port) override;
  SerialError SetSettings(const SerialLineSettings& settings) override;
  SerialError SetHandshaking(int32_t handshaking) override;
  SerialError SetPortOpen(bool open) override;
  bool PortOpen() const override;

 private:
  struct LineSettings;
  SerialError ApplySettings();
  SerialError DeviceError() const;
  void ReadAndDeliver(bool fromLoop);
  void OnError(int error);

  std::function<std::string(int)> deviceName_;
  // The receiver of Qt's signals and the context of queued events: gone with this object.
  std::unique_ptr<QObject> context_;
  std::unique_ptr<QSerialPort> port_;
  std::unique_ptr<LineSettings> settings_;
  SerialHandlers handlers_;
  int16_t commPort_ = 1;
  bool onCommPending_ = false;  // an OnComm is queued or running
  bool lost_ = false;
};

}  // namespace tarvel
