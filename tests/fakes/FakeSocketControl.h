#pragma once

#include <map>
#include <string>
#include <utility>

#include "platform/SocketControl.h"

namespace tarvel {

// A socket that tests drive by hand: they fire its events, inject received bytes, read what
// was sent, and make Listen or Accept fail on demand. Pending connection requests are shared
// between fakes through a FakeNetwork, as the real layer shares them between sockets.
class FakeNetwork {
 public:
  struct Peer {
    std::string Address;
    int32_t Port = 0;
  };
  int32_t NewRequest(const Peer& peer) {
    requests_[++lastId_] = peer;
    return lastId_;
  }
  bool Take(int32_t id, Peer& peer) {
    auto found = requests_.find(id);
    if (found == requests_.end()) return false;
    peer = found->second;
    requests_.erase(found);
    return true;
  }
  // Requests not taken over by the end of the handler are closed.
  void DropPending() { requests_.clear(); }

 private:
  std::map<int32_t, Peer> requests_;
  int32_t lastId_ = 0;
};

class FakeSocketControl : public SocketControl {
 public:
  explicit FakeSocketControl(FakeNetwork* network = nullptr) : network_(network) {}

  void SetHandlers(SocketHandlers handlers) override { handlers_ = std::move(handlers); }
  int16_t State() const override { return state_; }
  int32_t LocalPort() const override { return localPort_; }
  void SetLocalPort(int32_t port) override { localPort_ = port; }
  void SetLocalAddress(const std::string& address) override { localAddress_ = address; }
  const std::string& LocalAddress() const { return localAddress_; }
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
    ++connectCalls_;
    state_ = Connecting;
  }
  SocketError Accept(int32_t requestId) override {
    if (state_ == Connected) return {40020, "Invalid operation at current state"};
    if (acceptError_.Failed()) return std::exchange(acceptError_, SocketError{});
    FakeNetwork::Peer peer;
    if (network_ == nullptr || !network_->Take(requestId, peer)) return {10022, "Invalid argument"};
    remoteHostIP_ = peer.Address;
    remotePort_ = peer.Port;
    state_ = Connected;
    return {};
  }
  void Close() override {
    ++closeCalls_;
    state_ = Closed;
    unsent_.clear();
    backlog_ = 0;
  }
  void SendData(std::string_view data) override { sent_ += data; }
  int64_t BytesToWrite() const override { return backlog_; }
  std::string TakeUnsent() override { return std::exchange(unsent_, std::string()); }
  void SetReceivePaused(bool paused) override { paused_ = paused; }

  // Test controls.
  void FailListen(int number, const std::string& description) {
    listenError_ = {number, description};
  }
  void SetState(int16_t state) { state_ = state; }
  // The next acceptance fails so.
  void FailNextAccept(int number, const std::string& description) {
    acceptError_ = {number, description};
  }
  // A peer asks to connect to this listening socket; the handler runs, then unclaimed
  // requests are dropped. While the handler runs, the listener reports the peer's address.
  void RequestConnection(const std::string& address, int32_t port) {
    remoteHostIP_ = address;
    remotePort_ = port;
    const int32_t id = network_->NewRequest({address, port});
    if (handlers_.ConnectionRequest) handlers_.ConnectionRequest(id);
    network_->DropPending();
  }
  void Receive(std::string_view data) {
    if (handlers_.DataArrival) handlers_.DataArrival(data);
  }
  // The peer stops taking: the next SendData leaves `bytes` unsent.
  void SetBacklog(int64_t bytes) { backlog_ = bytes; }
  void LeaveUnsent(const std::string& text) { unsent_ = text; }
  void FireSendQueueLow() {
    backlog_ = 0;
    if (handlers_.SendQueueLow) handlers_.SendQueueLow();
  }
  bool Paused() const { return paused_; }
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
  int ConnectCalls() const { return connectCalls_; }
  int CloseCalls() const { return closeCalls_; }

 private:
  FakeNetwork* network_;
  SocketHandlers handlers_;
  int16_t state_ = Closed;
  int32_t localPort_ = 0;
  std::string localAddress_;
  std::string remoteHost_;
  int32_t remotePort_ = 0;
  std::string remoteHostIP_;
  SocketError listenError_;
  SocketError acceptError_;
  std::string sent_;
  std::string unsent_;
  int64_t backlog_ = 0;
  bool paused_ = false;
  int connectCalls_ = 0;
  int closeCalls_ = 0;
};

}  // namespace tarvel
