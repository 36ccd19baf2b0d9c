#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/SocketControl.h"

class QObject;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace tarvel {

// The socket control over Qt's TCP classes, on the event loop's thread.
//
// Connection requests: a listening socket takes each incoming connection, files it under a
// request id in a registry shared by all sockets of the process, and raises ConnectionRequest.
// Accept(id) on any data socket takes the connection over; one not taken over by the end of the
// handler is closed at once. Before a request is raised, every open data connection reads what
// waits for it, so a peer's close that came before the request is reported before it. Every event
// goes through QtEventQueue; each connection has a generation number, and events of an earlier
// generation are dropped, so nothing of a closed connection is delivered once Close() has returned.
//
// A data connection is the operating system's descriptor itself, once accepted or connected
// (Qt's classes listen, resolve names and connect): each reception is one read and each handler's
// output one send, with no copy into Qt's buffers and no question to the kernel of how much waits.
//
// Receiving: each read notification reads at most ReadBufferBytes into a buffer kept for the
// connection and hands them with the DataArrival event, run at once when no handler runs (one
// pass of the loop per reception; a copy is queued otherwise). While that event waits or the
// socket is paused, the notification is off and nothing is read: TCP flow control holds the
// peer back.
//
// Sending: SendData only queues, in this object's own buffer, which goes to the kernel once the
// running handler has ended (the lines of one reception together), so the unsent lines can be
// handed back (TakeUnsent). What the kernel does not take waits for a write notification. The
// reports of a send (LinesWritten, SendQueueLow) run right after the handler that sent. A peer
// that takes nothing for stallMs while output waits, or leaves more than the send queue limit
// unread, counts as dead: the connection is closed at once and an Error event "Peer took
// nothing ..." or "Send queue full ..." follows, which the logic answers with TakeUnsent() and
// Close().
//
// Data connections use TCP keepalive, so a peer that vanishes without a close (power, cable)
// raises an Error event after about 110 s of silence (see the .cpp for the timing).
//
// Error numbers: Qt's socket error code plus 100 for errors of the socket layer (so they are
// positive), 40020 for an operation in the wrong state and 10022 for an invalid argument. A
// connection's errors carry the operating system's text; a reset counts as the peer's close.
class QtSocketControl : public SocketControl {
 public:
  // Outgoing bytes (this object's queue, not counting the kernel's buffers) a peer may leave
  // unread.
  static constexpr int64_t DefaultSendQueueLimit = 16 * 1024 * 1024;
  static constexpr int DefaultStallMs = 60 * 1000;
  static constexpr int64_t ReadBufferBytes = 256 * 1024;

  explicit QtSocketControl(int64_t sendQueueLimit = DefaultSendQueueLimit,
                           int stallMs = DefaultStallMs);
  ~QtSocketControl() override;
  QtSocketControl(const QtSocketControl&) = delete;
  QtSocketControl& operator=(const QtSocketControl&) = delete;

  void SetHandlers(SocketHandlers handlers) override;
  int16_t State() const override;
  int32_t LocalPort() const override;
  void SetLocalPort(int32_t port) override;
  void SetLocalAddress(const std::string& address) override;
  std::string RemoteHost() const override;
  void SetRemoteHost(const std::string& host) override;
  int32_t RemotePort() const override;
  void SetRemotePort(int32_t port) override;
  std::string RemoteHostIP() const override;

  // Listen on a socket that is not closed fails; port 0 picks a free port, read back by
  // LocalPort().
  SocketError Listen() override;
  // Closes whatever the socket had first; an invalid RemotePort gives an Error event.
  void Connect() override;
  SocketError Accept(int32_t requestId) override;
  void Close() override;
  void SendData(std::string_view data) override;
  int64_t BytesToWrite() const override;
  std::string TakeUnsent() override;
  void SetReceivePaused(bool paused) override;

  // The operating system's descriptor of the data connection, -1 without one (diagnostics).
  intptr_t NativeDescriptor() const;

 private:
  void TakeOver(int descriptor);
  void DropConnection();
  // The event, dropped if by its time the connection it belongs to has been closed.
  std::function<void()> OfThisConnection(std::function<void()> event);
  void PostEvent(const char* where, std::function<void()> event);
  // For a report of the output: after the running handler, or queued.
  void Report(const char* where, std::function<void()> event);
  void OnIncoming(intptr_t descriptor);
  void OnConnected();
  void OnConnectError();
  void OnReadable();
  bool ReadOnce();
  void CatchUp();
  bool MayRead() const;
  void DeliverArrival(std::string_view bytes);
  void Pump();
  void OnStalled();
  void ReportLinesWritten();
  void PeerClosed();
  void FailConnection(const std::string& description);

  // The receiver of Qt's signals and the context of queued events: gone with this object.
  std::unique_ptr<QObject> context_;
  SocketHandlers handlers_;
  int16_t state_ = Closed;
  int32_t localPort_ = 0;
  std::string localAddress_;
  std::string remoteHost_;
  int32_t remotePort_ = 0;
  std::string remoteHostIP_;
  QTcpServer* server_ = nullptr;
  QTcpSocket* connecting_ = nullptr;  // an outgoing connection until it is established
  int descriptor_ = -1;               // the data connection
  QSocketNotifier* readNotifier_ = nullptr;
  QSocketNotifier* writeNotifier_ = nullptr;
  uint64_t generation_ = 0;
  bool arrivalPending_ = false;  // a DataArrival is queued
  // Read into, reception after reception: a new block each time costs fresh pages.
  std::string readBuffer_;
  bool receivePaused_ = false;
  // Output: outgoing_[0, written_) has gone to the kernel, the rest waits.
  std::string outgoing_;
  size_t written_ = 0;
  // The LinesWritten reports: outgoing_[0, scanned_) is looked at for line ends; dropped_ bytes
  // of the connection's output were removed from the front of outgoing_; the lines up to
  // linesEnd_ (counted from the connection's start) are taken whole, reported_ are reported.
  size_t scanned_ = 0;
  uint64_t dropped_ = 0;
  uint64_t linesEnd_ = 0;
  uint64_t reported_ = 0;
  bool linesReportQueued_ = false;
  bool pumpQueued_ = false;  // the lines of the running handler go out when it ends
  bool aboveHighWater_ = false;
  QTimer* stallTimer_ = nullptr;
  int64_t sendQueueLimit_;
};

}  // namespace tarvel
