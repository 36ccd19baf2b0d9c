#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvel {

// The result of an operation that can fail: Number 0 means success. The description is the
// operating system's text, as the logic writes it into log lines.
struct SocketError {
  int Number = 0;
  std::string Description;
  bool Failed() const { return Number != 0; }
};

// The logic's handlers of one socket's events. Unset handlers ignore the event.
// Every event is delivered from the event loop, one at a time, never from inside another
// handler and never from inside an operation the logic calls: a Close() or Accept() called
// inside a handler does not run any handler re-entrantly.
struct SocketHandlers {
  // A listening socket: a peer asks to connect. The request can be taken over by Accept()
  // on a data socket until this handler returns; a request not taken over by then is closed.
  std::function<void(int32_t requestId)> ConnectionRequest;
  // A data socket: its outgoing connection (Connect()) is established.
  std::function<void()> Connect;
  // A data socket: bytes received, unchanged. The view is valid until the handler returns.
  std::function<void(std::string_view bytes)> DataArrival;
  // A data socket: the peer closed the connection. The socket stays in the closing state until
  // the logic calls Close().
  std::function<void()> Close;
  // A data socket: a socket error (refused, reset, host not found, keepalive timeout ...).
  std::function<void(const std::string& description)> Error;
  // A data socket: its unsent output, after growing above SendHighWater, fell to SendLowWater.
  std::function<void()> SendQueueLow;
  // A data socket: the operating system has taken this many more bytes of the output, counted
  // up to the end of the last line it has taken whole (a line taken in part is counted once it
  // is taken whole). Reports of a connection end with Close(): what TakeUnsent() hands back is
  // exactly what was not reported before, less any report still on its way.
  std::function<void(uint64_t bytes)> LinesWritten;
};

// One TCP endpoint, modelled on the usual socket control of the alarm equipment world:
// either a listening socket or a data socket (accepted or outgoing).
class SocketControl {
 public:
  // State values; the logic tests only Listening and Connected, the others tell the socket's
  // own steps apart (and its tests the closing state a Close event leaves).
  static constexpr int16_t Closed = 0;
  static constexpr int16_t Listening = 2;
  static constexpr int16_t Connecting = 6;
  static constexpr int16_t Connected = 7;
  static constexpr int16_t Closing = 8;
  static constexpr int16_t Error = 9;

  // Unsent output above which a sender should hold back, and the level at which SendQueueLow
  // tells it to go on.
  static constexpr int64_t SendHighWater = 1024 * 1024;
  static constexpr int64_t SendLowWater = 256 * 1024;

  virtual ~SocketControl() = default;

  virtual void SetHandlers(SocketHandlers handlers) = 0;

  virtual int16_t State() const = 0;

  // The local port: set before Listen(); read back afterwards for log and status texts.
  virtual int32_t LocalPort() const = 0;
  virtual void SetLocalPort(int32_t port) = 0;
  // The local address to listen on; empty means every address.
  virtual void SetLocalAddress(const std::string& address) = 0;

  // Host and port a client socket connects to (set before Connect()). On a listening socket
  // inside ConnectionRequest, and on a connected data socket: the peer's port.
  virtual std::string RemoteHost() const = 0;
  virtual void SetRemoteHost(const std::string& host) = 0;
  virtual int32_t RemotePort() const = 0;
  virtual void SetRemotePort(int32_t port) = 0;
  // The peer's address in digits, under the same conditions as RemotePort().
  virtual std::string RemoteHostIP() const = 0;

  // Starts listening on LocalPort(). A port in use or not allowed gives an error, and the
  // socket then does not count as listening.
  virtual SocketError Listen() = 0;
  // Starts connecting to RemoteHost():RemotePort() without blocking (name resolution too);
  // the outcome arrives later as the Connect or the Error event.
  virtual void Connect() = 0;
  // Takes over the connection of a pending request and becomes Connected. On a socket that is
  // connected it fails and leaves that connection untouched; an unknown id fails too.
  virtual SocketError Accept(int32_t requestId) = 0;
  // Closes the socket; it can listen, accept or connect again. Harmless on a closed socket.
  // No event of the old connection is delivered after Close() returns.
  virtual void Close() = 0;
  // Queues the bytes for sending, one byte per character, and returns at once.
  virtual void SendData(std::string_view data) = 0;
  // Bytes given to SendData that the operating system has not taken yet.
  virtual int64_t BytesToWrite() const = 0;
  // The unsent output of the connection, from the start of the first line the operating system
  // has not taken whole; removed. Read it before Close(), which forgets it.
  virtual std::string TakeUnsent() = 0;
  // While paused, a data socket reads nothing and raises no DataArrival: the peer is held back
  // by TCP flow control. Kept across Close() and new connections.
  virtual void SetReceivePaused(bool paused) = 0;
};

}  // namespace tarvel
