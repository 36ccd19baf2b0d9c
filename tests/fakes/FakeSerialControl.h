#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/SerialControl.h"

namespace tarvel {

// A serial port that tests drive by hand: inject bytes or other events, fail opening.
class FakeSerialControl : public SerialControl {
 public:
  void SetHandlers(SerialHandlers handlers) override { handlers_ = std::move(handlers); }
  int16_t CommPort() const override { return commPort_; }
  SerialError SetCommPort(int16_t port) override {
    commPort_ = port;
    return {};
  }
  SerialError SetSettings(const SerialLineSettings& settings) override {
    Settings = settings;
    return settingsError_;
  }
  SerialError SetHandshaking(int32_t handshaking) override {
    Handshaking = handshaking;
    return {};
  }
  SerialError SetPortOpen(bool open) override {
    if (open && openError_.Failed()) return openError_;
    open_ = open;
    return {};
  }
  bool PortOpen() const override { return open_; }

  std::optional<SerialLineSettings> Settings;  // nothing until SetSettings is called
  int32_t Handshaking = 0;
  void FailSettings(const std::string& description) { settingsError_ = {380, description}; }
  void FailOpen(const std::string& description) { openError_ = {8002, description}; }
  void Receive(std::string_view bytes) {
    if (handlers_.OnComm) handlers_.OnComm(bytes);
  }
  void LoseDevice(const std::string& description) {
    open_ = false;
    if (handlers_.DeviceLost) handlers_.DeviceLost(description);
  }

 private:
  SerialHandlers handlers_;
  int16_t commPort_ = 1;
  bool open_ = false;
  SerialError settingsError_;
  SerialError openError_;
};

}  // namespace tarvel
