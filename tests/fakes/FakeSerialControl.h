#pragma once

#include <string>
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
  SerialError SetSettings(const std::string& settings) override {
    settings_ = settings;
    return settingsError_;
  }
  SerialError SetHandshaking(int32_t handshaking) override {
    handshaking_ = handshaking;
    return {};
  }
  SerialError SetPortOpen(bool open) override {
    if (open && openError_.Failed()) return openError_;
    open_ = open;
    return {};
  }
  bool PortOpen() const override { return open_; }
  int16_t CommEvent() const override { return commEvent_; }
  int32_t InBufferCount() const override { return static_cast<int32_t>(waiting_.size()); }
  std::string Input() override { return std::exchange(waiting_, std::string()); }

  // Test controls.
  void FailSettings(const std::string& description) { settingsError_ = {380, description}; }
  void FailOpen(const std::string& description) { openError_ = {8002, description}; }
  const std::string& Settings() const { return settings_; }
  int32_t Handshaking() const { return handshaking_; }
  void Receive(const std::string& bytes) {
    waiting_ += bytes;
    FireOnComm(ReceiveEvent);
  }
  void FireOnComm(int16_t event) {
    commEvent_ = event;
    if (handlers_.OnComm) handlers_.OnComm();
  }
  void LoseDevice(const std::string& description) {
    open_ = false;
    if (handlers_.DeviceLost) handlers_.DeviceLost(description);
  }

 private:
  SerialHandlers handlers_;
  int16_t commPort_ = 1;
  std::string settings_;
  int32_t handshaking_ = 0;
  bool open_ = false;
  SerialError settingsError_;
  SerialError openError_;
  int16_t commEvent_ = 0;
  std::string waiting_;
};

}  // namespace tarvel
