#include "platform/qt/QtSocketControl.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <utility>

#include "platform/qt/QtEventQueue.h"

namespace tarvel {

namespace {

constexpr int BadStateNumber = 40020;
constexpr const char* BadStateText = "Invalid operation at current state";
constexpr int InvalidArgumentNumber = 10022;
constexpr const char* InvalidArgumentText = "Invalid argument";

// Keepalive on data connections: after 60 s without traffic the kernel sends a probe every 10 s;
// 5 unanswered probes end the connection, so a vanished peer is noticed after 60 + 5 * 10 =
// 110 s. The alarm server connection and the equipment lines are both quiet for long spells,
// so without this a dead peer would count as connected for hours.
constexpr int KeepAliveIdleSeconds = 60;
constexpr int KeepAliveIntervalSeconds = 10;
constexpr int KeepAliveProbes = 5;

constexpr int AcceptRetryMs = 1000;

// What Qt's write buffer gets at a time; the rest waits in outgoing_.
constexpr size_t HandOverBytes = 64 * 1024;

int ErrorNumber(QAbstractSocket::SocketError error) {
  return 100 + static_cast<int>(error);
}

// IPv4 peers of a dual-stack listener show as ::ffff:a.b.c.d; the logs want a.b.c.d.
std::string AddressText(const QHostAddress& address) {
  bool isIPv4 = false;
  const quint32 ipv4 = address.toIPv4Address(&isIPv4);
  return (isIPv4 ? QHostAddress(ipv4) : address).toString().toStdString();
}

// Also no Nagle delay: an event line goes out when the loop hands it over, not when the
// peer's (possibly delayed, up to 40 ms) acknowledgement of the previous one comes back.
void EnableKeepAlive(QTcpSocket* socket) {
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
  const qintptr descriptor = socket->socketDescriptor();
  if (descriptor == -1) return;
  const int fd = static_cast<int>(descriptor);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepAliveIdleSeconds, sizeof(int));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepAliveIntervalSeconds, sizeof(int));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepAliveProbes, sizeof(int));
}

void Discard(QTcpSocket* socket) {
  socket->abort();
  socket->deleteLater();
}

// Incoming connections between their ConnectionRequest and the end of its handler, shared by
// every socket of the process (a request is accepted on another socket than the listener).
struct PendingRequest {
  QPointer<QTcpSocket> Socket;
  std::string Address;
  int32_t Port = 0;
};

class PendingRequests {
 public:
  int32_t Add(PendingRequest request) {
    lastId_ = lastId_ == INT32_MAX ? 1 : lastId_ + 1;
    requests_[lastId_] = std::move(request);
    return lastId_;
  }
  bool Take(int32_t id, PendingRequest& request) {
    const auto found = requests_.find(id);
    if (found == requests_.end()) return false;
    request = std::move(found->second);
    requests_.erase(found);
    return true;
  }

 private:
  std::map<int32_t, PendingRequest> requests_;
  int32_t lastId_ = 0;
};

PendingRequests& Requests() {
  static PendingRequests requests;
  return requests;
}

}  // namespace

QtSocketControl::QtSocketControl(int64_t sendQueueLimit, int stallMs)
    : context_(std::make_unique<QObject>()),
      stallTimer_(new QTimer(context_.get())),
      sendQueueLimit_(sendQueueLimit) {
  stallTimer_->setSingleShot(true);
  stallTimer_->setInterval(stallMs);
  QObject::connect(stallTimer_, &QTimer::timeout, context_.get(), [this] { OnStalled(); });
}

QtSocketControl::~QtSocketControl() {
  Close();
}

void QtSocketControl::SetHandlers(SocketHandlers handlers) {
  handlers_ = std::move(handlers);
}
int16_t QtSocketControl::State() const {
  return state_;
}
int32_t QtSocketControl::LocalPort() const {
  return localPort_;
}
void QtSocketControl::SetLocalPort(int32_t port) {
  localPort_ = port;
}
void QtSocketControl::SetLocalAddress(const std::string& address) {
  localAddress_ = address;
}
std::string QtSocketControl::RemoteHost() const {
  return remoteHost_;
}
void QtSocketControl::SetRemoteHost(const std::string& host) {
  remoteHost_ = host;
}
int32_t QtSocketControl::RemotePort() const {
  return remotePort_;
}
void QtSocketControl::SetRemotePort(int32_t port) {
  remotePort_ = port;
}
std::string QtSocketControl::RemoteHostIP() const {
  return remoteHostIP_;
}

intptr_t QtSocketControl::NativeDescriptor() const {
  return socket_ == nullptr ? -1 : static_cast<intptr_t>(socket_->socketDescriptor());
}

SocketError QtSocketControl::Listen() {
  if (state_ != Closed) return {BadStateNumber, BadStateText};
  if (localPort_ < 0 || localPort_ > 65535) return {InvalidArgumentNumber, InvalidArgumentText};
  QHostAddress address(QHostAddress::Any);
  if (!localAddress_.empty() && !address.setAddress(QString::fromLatin1(localAddress_))) {
    return {InvalidArgumentNumber, "Invalid local address " + localAddress_};
  }
  auto listening = std::make_unique<QTcpServer>();
  if (!listening->listen(address, static_cast<quint16>(localPort_))) {
    return {ErrorNumber(listening->serverError()), listening->errorString().toStdString()};
  }
  Close();
  server_ = listening.release();
  server_->setParent(context_.get());
  localPort_ = server_->serverPort();
  state_ = Listening;
  QObject::connect(server_, &QTcpServer::newConnection, context_.get(),
                   [this] { OnNewConnection(); });
  // Qt stops accepting for good after a failed accept (no descriptor left, for one); a listener
  // must outlive a passing shortage, so it tries again a moment later.
  QTcpServer* server = server_;
  QObject::connect(server_, &QTcpServer::acceptError, server_, [server] {
    QTimer::singleShot(AcceptRetryMs, server, [server] { server->resumeAccepting(); });
  });
  return {};
}

void QtSocketControl::OnNewConnection() {
  while (server_ != nullptr && server_->hasPendingConnections()) {
    QTcpSocket* socket = server_->nextPendingConnection();
    PendingRequest request{socket, AddressText(socket->peerAddress()), socket->peerPort()};
    PostEvent("socket ConnectionRequest", [this, request] {
      if (request.Socket.isNull()) return;
      remoteHostIP_ = request.Address;
      remotePort_ = request.Port;
      const int32_t id = Requests().Add(request);
      struct DropUnclaimed {
        int32_t Id;
        ~DropUnclaimed() {
          PendingRequest left;
          if (Requests().Take(Id, left) && !left.Socket.isNull()) Discard(left.Socket);
        }
      } dropUnclaimed{id};
      if (handlers_.ConnectionRequest) handlers_.ConnectionRequest(id);
    });
  }
}

SocketError QtSocketControl::Accept(int32_t requestId) {
  if (state_ == Connected || state_ == Listening) return {BadStateNumber, BadStateText};
  PendingRequest request;
  if (!Requests().Take(requestId, request) || request.Socket.isNull()) {
    return {InvalidArgumentNumber, InvalidArgumentText};
  }
  Close();
  QTcpSocket* socket = request.Socket;
  socket->setParent(context_.get());
  AdoptSocket(socket);
  EnableKeepAlive(socket);
  remoteHostIP_ = request.Address;
  remotePort_ = request.Port;
  state_ = Connected;
  // Bytes and a close that came while the request waited had no receiver yet.
  if (socket->bytesAvailable() > 0) ReadAndDeliver(false);
  if (socket->state() != QAbstractSocket::ConnectedState) OnDisconnected();
  return {};
}

void QtSocketControl::Connect() {
  Close();
  if (remotePort_ < 1 || remotePort_ > 65535) {
    FailConnection(InvalidArgumentText);
    return;
  }
  auto* socket = new QTcpSocket(context_.get());
  AdoptSocket(socket);
  QObject::connect(socket, &QTcpSocket::connected, context_.get(), [this] { OnConnected(); });
  state_ = Connecting;
  // Asynchronous, name resolution included.
  socket->connectToHost(QString::fromLatin1(remoteHost_), static_cast<quint16>(remotePort_));
}

void QtSocketControl::OnConnected() {
  state_ = Connected;
  remoteHostIP_ = AddressText(socket_->peerAddress());
  EnableKeepAlive(socket_);
  PostEvent("socket Connect", [this] {
    if (handlers_.Connect) handlers_.Connect();
  });
}

void QtSocketControl::AdoptSocket(QTcpSocket* socket) {
  socket_ = socket;
  // Qt would otherwise take everything the kernel holds (megabytes under a burst) at each
  // pass; a bounded take per pass keeps memory flat and leaves the rest to TCP flow control.
  socket->setReadBufferSize(ReadBufferBytes);
  QObject* context = context_.get();
  QObject::connect(socket, &QTcpSocket::readyRead, context, [this] { ReadAndDeliver(true); });
  QObject::connect(socket, &QTcpSocket::bytesWritten, context, [this] { OnBytesWritten(); });
  QObject::connect(socket, &QTcpSocket::disconnected, context, [this] { OnDisconnected(); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, context,
                   [this](QAbstractSocket::SocketError error) { OnSocketError(error); });
}

void QtSocketControl::DropSocket() {
  if (socket_ == nullptr) return;
  UpdateWritten();
  stallTimer_->stop();
  QObject::disconnect(socket_, nullptr, context_.get(), nullptr);
  Discard(socket_);
  socket_ = nullptr;
}

void QtSocketControl::Close() {
  ++generation_;
  arrivalPending_ = false;
  delete server_;  // with it the connections it holds that were not yet handed out
  server_ = nullptr;
  DropSocket();
  outgoing_.clear();
  handed_ = written_ = scanned_ = 0;
  dropped_ = linesEnd_ = reported_ = 0;
  linesReportQueued_ = false;
  aboveHighWater_ = false;
  state_ = Closed;
}

void QtSocketControl::SetReceivePaused(bool paused) {
  receivePaused_ = paused;
  if (!paused && socket_ != nullptr && socket_->bytesAvailable() > 0) ReadAndDeliver(false);
}

// fromLoop: called from Qt's read notification, straight out of the event loop, where the
// event may run at once.
void QtSocketControl::ReadAndDeliver(bool fromLoop) {
  if (receivePaused_ || arrivalPending_ || socket_ == nullptr) return;
  const qint64 count = std::min<qint64>(socket_->bytesAvailable(), ReadBufferBytes);
  if (count <= 0) return;
  std::string bytes = std::move(spareBlock_);
  spareBlock_.clear();
  bytes.resize(static_cast<size_t>(count));
  bytes.resize(static_cast<size_t>(std::max<qint64>(socket_->read(bytes.data(), count), 0)));
  if (bytes.empty()) {
    spareBlock_ = std::move(bytes);
    return;
  }
  arrivalPending_ = true;
  if (fromLoop) {
    QtEventQueue::RunOrPost(
        context_.get(), "socket DataArrival",
        [this, bytes = std::move(bytes)]() mutable { DeliverArrival(std::move(bytes)); });
  } else {
    PostEvent("socket DataArrival",
              [this, bytes = std::move(bytes)]() mutable { DeliverArrival(std::move(bytes)); });
  }
}

void QtSocketControl::DeliverArrival(std::string bytes) {
  const uint64_t generation = generation_;
  arrivalPending_ = false;
  if (handlers_.DataArrival) handlers_.DataArrival(bytes);
  if (bytes.capacity() > spareBlock_.capacity()) spareBlock_ = std::move(bytes);
  // Qt raises no new read notification for what its buffer already holds.
  if (generation == generation_) ReadAndDeliver(false);
}

void QtSocketControl::OnDisconnected() {
  if (state_ == Error || state_ == Closing) return;  // reported once
  state_ = Closing;
  // What the peer sent before closing, held back by a pause or a waiting event, comes first.
  if (socket_ != nullptr && socket_->bytesAvailable() > 0) {
    const QByteArray rest = socket_->readAll();
    PostEvent("socket DataArrival", [this, rest] {
      if (handlers_.DataArrival) {
        handlers_.DataArrival(std::string_view(rest.constData(), static_cast<size_t>(rest.size())));
      }
    });
  }
  PostEvent("socket Close", [this] {
    if (handlers_.Close) handlers_.Close();
  });
}

void QtSocketControl::OnSocketError(int error) {
  // A peer's close comes as this error and then as disconnected(), reported as Close.
  if (error == QAbstractSocket::RemoteHostClosedError) return;
  if (state_ == Error || state_ == Closing) return;
  FailConnection(socket_->errorString().toStdString());
}

void QtSocketControl::FailConnection(const std::string& description) {
  state_ = Error;
  PostEvent("socket Error", [this, description] {
    if (handlers_.Error) handlers_.Error(description);
  });
}

void QtSocketControl::SendData(std::string_view data) {
  if (state_ != Connected || socket_ == nullptr || data.empty()) return;
  const int64_t queued = BytesToWrite();
  outgoing_.append(data);
  if (queued + static_cast<int64_t>(data.size()) > sendQueueLimit_) {
    DropSocket();
    FailConnection("Send queue full (" + std::to_string(queued) +
                   " bytes not taken by the peer), connection dropped");
    return;
  }
  // The lines a handler sends (a reception of many) go to Qt together when it ends: one
  // hand-over, not one per line.
  if (!pumpQueued_) {
    pumpQueued_ = true;
    QtEventQueue::AfterHandler(context_.get(), "socket output", [this] {
      pumpQueued_ = false;
      Pump();
    });
  }
  if (!aboveHighWater_ && BytesToWrite() > SendHighWater) aboveHighWater_ = true;
}

void QtSocketControl::UpdateWritten() {
  if (socket_ == nullptr) return;
  // After TakeUnsent() Qt may still hold bytes that were handed back: nothing to count then.
  const auto inQt = static_cast<size_t>(socket_->bytesToWrite());
  if (inQt > handed_) return;
  written_ = handed_ - inQt;
  ReportLinesWritten();
}

// One report at a time is on its way; it tells what has been taken by the time it runs.
void QtSocketControl::ReportLinesWritten() {
  if (written_ > scanned_) {
    const void* found = ::memrchr(outgoing_.data() + scanned_, '\n', written_ - scanned_);
    if (found != nullptr)
      linesEnd_ =
          dropped_ + static_cast<uint64_t>(static_cast<const char*>(found) - outgoing_.data()) + 1;
    scanned_ = written_;
  }
  if (linesEnd_ == reported_ || linesReportQueued_) return;
  linesReportQueued_ = true;
  PostEvent("socket LinesWritten", [this] {
    linesReportQueued_ = false;
    const uint64_t bytes = linesEnd_ - reported_;
    reported_ = linesEnd_;
    if (bytes > 0 && handlers_.LinesWritten) handlers_.LinesWritten(bytes);
  });
}

int64_t QtSocketControl::BytesToWrite() const {
  const size_t inQt = socket_ == nullptr ? 0 : static_cast<size_t>(socket_->bytesToWrite());
  const size_t written = socket_ == nullptr ? written_ : handed_ - std::min(inQt, handed_);
  return static_cast<int64_t>(outgoing_.size() - written);
}

// Output goes to the kernel straight from outgoing_ while Qt holds none of it: no copy into Qt's
// buffer, and no write notification switched on and off (each switch wakes the event loop with
// a system call of its own). What the kernel does not take, and any write error, is left to Qt:
// Qt's buffer is kept filled up to a block; Qt writes it at the next pass of the event loop,
// reports a failure as usual, and the bytesWritten signal brings the next block. A full block is
// flushed at once (flush never blocks), so a burst goes out as fast as the peer reads.
void QtSocketControl::Pump() {
  if (pumping_ || socket_ == nullptr) return;
  pumping_ = true;
  const auto descriptor = socket_->socketDescriptor();
  if (handed_ < outgoing_.size() && descriptor != -1 && socket_->bytesToWrite() == 0 &&
      socket_->state() == QAbstractSocket::ConnectedState) {
    const ssize_t sent = ::send(static_cast<int>(descriptor), outgoing_.data() + handed_,
                                outgoing_.size() - handed_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      handed_ += static_cast<size_t>(sent);
      stallTimer_->stop();  // the peer takes: the stall count starts again
    }
  }
  while (handed_ < outgoing_.size()) {
    const auto inQt = static_cast<size_t>(socket_->bytesToWrite());
    if (inQt >= HandOverBytes) break;
    const size_t count = std::min(HandOverBytes - inQt, outgoing_.size() - handed_);
    socket_->write(outgoing_.data() + handed_, static_cast<qint64>(count));
    handed_ += count;
    if (static_cast<size_t>(socket_->bytesToWrite()) < HandOverBytes) break;
    socket_->flush();
    if (socket_ == nullptr) break;
  }
  pumping_ = false;
  if (socket_ == nullptr) return;
  UpdateWritten();
  if (written_ == outgoing_.size()) {
    dropped_ += outgoing_.size();
    outgoing_.clear();
    handed_ = written_ = scanned_ = 0;
  } else if (written_ > HandOverBytes && written_ > outgoing_.size() / 2) {
    // Forget what went out, keeping the line the kernel has taken only in part.
    const size_t newline = outgoing_.rfind('\n', written_ - 1);
    const size_t keepFrom = newline == std::string::npos ? 0 : newline + 1;
    outgoing_.erase(0, keepFrom);
    dropped_ += keepFrom;
    handed_ -= keepFrom;
    written_ -= keepFrom;
    scanned_ -= keepFrom;
  }
  if (outgoing_.empty()) {
    stallTimer_->stop();
  } else if (!stallTimer_->isActive()) {
    stallTimer_->start();
  }
  // Output written here without Qt raises no bytesWritten signal: the low mark is looked at
  // here too.
  if (aboveHighWater_ && BytesToWrite() <= SendLowWater) {
    aboveHighWater_ = false;
    PostEvent("socket SendQueueLow", [this] {
      if (handlers_.SendQueueLow) handlers_.SendQueueLow();
    });
  }
}

void QtSocketControl::OnBytesWritten() {
  stallTimer_->stop();  // the peer takes: the stall count starts again
  Pump();
}

void QtSocketControl::OnStalled() {
  if (socket_ == nullptr || BytesToWrite() == 0) return;
  const int64_t waiting = BytesToWrite();
  DropSocket();
  FailConnection("Peer took nothing for " + std::to_string(stallTimer_->interval() / 1000) +
                 " s (" + std::to_string(waiting) + " bytes waiting), connection dropped");
}

std::string QtSocketControl::TakeUnsent() {
  UpdateWritten();
  const size_t newline = written_ == 0 ? std::string::npos : outgoing_.rfind('\n', written_ - 1);
  std::string unsent = outgoing_.substr(newline == std::string::npos ? 0 : newline + 1);
  dropped_ += outgoing_.size();
  outgoing_.clear();
  handed_ = written_ = scanned_ = 0;
  return unsent;
}

void QtSocketControl::PostEvent(const char* where, std::function<void()> event) {
  QtEventQueue::Post(context_.get(), where,
                     [this, generation = generation_, event = std::move(event)] {
                       if (generation == generation_) event();
                     });
}

}  // namespace tarvel
