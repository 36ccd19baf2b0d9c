#pragma once

#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "platform/SocketControl.h"

namespace tarvel {

// The pending connection requests by id, shared between fakes as the real layer shares them
// between sockets.
struct FakeNetwork {
  std::map<int32_t, std::pair<std::string, int32_t>> Requests;  // the peer's address and port
  int32_t LastId = 0;
};

// A socket that tests drive by hand: they fire its events, inject received bytes, read what
// was sent, and make Listen or Accept fail on demand.
class FakeSocketControl : public SocketControl {
 public:
  explicit FakeSocketControl(FakeNetwork* network = nullptr) : network_(network) {}

  void SetHandlers(SocketHandlers handlers) override { handlers_ = std::move(handlers); }
  int16_t State() const override { return state_; }
  int32_t LocalPort() const override { return localPort_; }
  void SetLocalPort(int32_t port) override { localPort_ = port; }
  void SetLocalAddress(const std::string& address) override { LocalAddress = address; }
  std::string RemoteHost() const override { return remoteHost_; }
  void SetRemoteHost(const std::string& host) override { remoteHost_ = host; }
  int32_t RemotePort() const override { return remotePort_; }
  void SetRemotePort(int32_t port) override { remotePort_ = port; }
  std::string RemoteHostIP() const override { return remoteHostIP_; }

  SocketError Listen() override {
    if (listenError_.Failed()) return listenError_;
    state_ = Listening;
    return {};
  }
  void Connect() override {
    ++ConnectCalls;
    state_ = Connecting;
  }
  SocketError Accept(int32_t requestId) override {
    if (state_ == Connected) return {40020, "Invalid operation at current state"};
    if (acceptError_.Failed()) return std::exchange(acceptError_, SocketError{});
    if (network_ == nullptr || !network_->Requests.contains(requestId))
      return {10022, "Invalid argument"};
    std::tie(remoteHostIP_, remotePort_) = network_->Requests[requestId];
    network_->Requests.erase(requestId);
    state_ = Connected;
    return {};
  }
  void Close() override {
    ++CloseCalls;
    state_ = Closed;
    Unsent.clear();
    Backlog = 0;
  }
  void SendData(std::string_view data) override {
    sent_ += data;
    ++SendCalls;
  }
  int64_t BytesToWrite() const override { return Backlog; }
  std::string TakeUnsent() override { return std::exchange(Unsent, std::string()); }
  void SetReceivePaused(bool paused) override { Paused = paused; }

  std::string LocalAddress;
  int64_t Backlog = 0;  // the peer stops taking: bytes the operating system holds unsent
  std::string Unsent;   // what a closing connection hands back
  bool Paused = false;
  int ConnectCalls = 0;
  int CloseCalls = 0;
  int SendCalls = 0;
  void FailListen(int number, const std::string& description) {
    listenError_ = {number, description};
  }
  void FailNextAccept(int number, const std::string& description) {
    acceptError_ = {number, description};
  }
  void SetState(int16_t state) { state_ = state; }
  // A peer asks to connect to this listening socket; the handler runs, then unclaimed
  // requests are dropped. While the handler runs, the listener reports the peer's address.
  void RequestConnection(const std::string& address, int32_t port) {
    remoteHostIP_ = address;
    remotePort_ = port;
    network_->Requests[++network_->LastId] = {address, port};
    if (handlers_.ConnectionRequest) handlers_.ConnectionRequest(network_->LastId);
    network_->Requests.clear();
  }
  void Receive(std::string_view data) {
    if (handlers_.DataArrival) handlers_.DataArrival(data);
  }
  void FireSendQueueLow() {
    Backlog = 0;
    if (handlers_.SendQueueLow) handlers_.SendQueueLow();
  }
  // The operating system took bytes of the output, up to a line end.
  void FireLinesWritten(uint64_t bytes) {
    if (handlers_.LinesWritten) handlers_.LinesWritten(bytes);
  }
  void FireConnect() {
    state_ = Connected;
    if (handlers_.Connect) handlers_.Connect();
  }
  void FireClose() {
    state_ = Closing;
    if (handlers_.Close) handlers_.Close();
  }
  void FireError(const std::string& description) {
    state_ = Error;
    if (handlers_.Error) handlers_.Error(description);
  }
  std::string TakeSent() { return std::exchange(sent_, std::string()); }

 private:
  FakeNetwork* network_;
  SocketHandlers handlers_;
  int16_t state_ = Closed;
  int32_t localPort_ = 0;
  std::string remoteHost_;
  int32_t remotePort_ = 0;
  std::string remoteHostIP_;
  SocketError listenError_;
  SocketError acceptError_;
  std::string sent_;
};

}  // namespace tarvel
