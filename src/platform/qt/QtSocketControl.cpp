#include "platform/qt/QtSocketControl.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

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

// Output the kernel has taken is forgotten once it is more than this and than half the buffer.
constexpr size_t CompactAboveBytes = 64 * 1024;

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
void EnableKeepAlive(int descriptor) {
  const int on = 1;
  setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(int));
  setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(int));
  setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &KeepAliveIdleSeconds, sizeof(int));
  setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &KeepAliveIntervalSeconds, sizeof(int));
  setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &KeepAliveProbes, sizeof(int));
}

void Discard(QTcpSocket* socket) {
  socket->abort();
  socket->deleteLater();
}

// An accepted connection not yet taken over: closed with the last reference, so a request that
// is refused, or whose event is dropped with its socket, never leaks its descriptor.
class OwnedDescriptor {
 public:
  explicit OwnedDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~OwnedDescriptor() {
    if (descriptor_ != -1) ::close(descriptor_);
  }
  OwnedDescriptor(const OwnedDescriptor&) = delete;
  OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
  int Release() { return std::exchange(descriptor_, -1); }

 private:
  int descriptor_;
};

// Incoming connections between their ConnectionRequest and the end of its handler, shared by
// every socket of the process (a request is accepted on another socket than the listener).
struct PendingRequest {
  std::shared_ptr<OwnedDescriptor> Connection;
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

// Qt's listener, handing over each accepted descriptor as it is, without a QTcpSocket.
class DescriptorServer : public QTcpServer {
 public:
  explicit DescriptorServer(std::function<void(qintptr)> incoming)
      : incoming_(std::move(incoming)) {}

 protected:
  void incomingConnection(qintptr descriptor) override { incoming_(descriptor); }

 private:
  std::function<void(qintptr)> incoming_;
};

// Blocks of ReadBufferBytes read at most for the open connections before a request is raised.
constexpr int CatchUpReads = 4;

// The open data connections of the process. A connection request is decided on what their
// peers have sent before it, closes included (see CatchUp).
std::set<QtSocketControl*>& OpenConnections() {
  static std::set<QtSocketControl*> connections;
  return connections;
}

bool PeerGone(int error) {
  return error == ECONNRESET || error == EPIPE;
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
  return descriptor_;
}

SocketError QtSocketControl::Listen() {
  if (state_ != Closed) return {BadStateNumber, BadStateText};
  if (localPort_ < 0 || localPort_ > 65535) return {InvalidArgumentNumber, InvalidArgumentText};
  QHostAddress address(QHostAddress::Any);
  if (!localAddress_.empty() && !address.setAddress(QString::fromLatin1(localAddress_))) {
    return {InvalidArgumentNumber, "Invalid local address " + localAddress_};
  }
  auto listening =
      std::make_unique<DescriptorServer>([this](qintptr descriptor) { OnIncoming(descriptor); });
  if (!listening->listen(address, static_cast<quint16>(localPort_))) {
    return {ErrorNumber(listening->serverError()), listening->errorString().toStdString()};
  }
  Close();
  server_ = listening.release();
  server_->setParent(context_.get());
  localPort_ = server_->serverPort();
  state_ = Listening;
  // Qt stops accepting for good after a failed accept (no descriptor left, for one); a listener
  // must outlive a passing shortage, so it tries again a moment later.
  QTcpServer* server = server_;
  QObject::connect(server_, &QTcpServer::acceptError, server_, [server] {
    QTimer::singleShot(AcceptRetryMs, server, [server] { server->resumeAccepting(); });
  });
  return {};
}

void QtSocketControl::OnIncoming(intptr_t accepted) {
  const int descriptor = static_cast<int>(accepted);
  auto connection = std::make_shared<OwnedDescriptor>(descriptor);
  ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return;
  const QHostAddress address(reinterpret_cast<const sockaddr*>(&peer));
  const uint16_t port =
      ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(peer).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(peer).sin_port);
  PendingRequest request{std::move(connection), AddressText(address), port};
  // Handlers run meanwhile and may close any connection.
  const std::vector<QtSocketControl*> open(OpenConnections().begin(), OpenConnections().end());
  for (QtSocketControl* other : open)
    if (OpenConnections().contains(other)) other->CatchUp();
  PostEvent("socket ConnectionRequest", [this, request]() mutable {
    remoteHostIP_ = request.Address;
    remotePort_ = request.Port;
    const int32_t id = Requests().Add(std::move(request));
    struct DropUnclaimed {
      int32_t Id;
      ~DropUnclaimed() {
        PendingRequest left;
        Requests().Take(Id, left);
      }
    } dropUnclaimed{id};
    if (handlers_.ConnectionRequest) handlers_.ConnectionRequest(id);
  });
}

SocketError QtSocketControl::Accept(int32_t requestId) {
  if (state_ == Connected || state_ == Listening) return {BadStateNumber, BadStateText};
  PendingRequest request;
  if (!Requests().Take(requestId, request) || request.Connection == nullptr) {
    return {InvalidArgumentNumber, InvalidArgumentText};
  }
  Close();
  remoteHostIP_ = request.Address;
  remotePort_ = request.Port;
  TakeOver(request.Connection->Release());
  return {};
}

void QtSocketControl::Connect() {
  Close();
  if (remotePort_ < 1 || remotePort_ > 65535) {
    FailConnection(InvalidArgumentText);
    return;
  }
  connecting_ = new QTcpSocket(context_.get());
  QObject::connect(connecting_, &QTcpSocket::connected, context_.get(), [this] { OnConnected(); });
  QObject::connect(connecting_, &QTcpSocket::errorOccurred, context_.get(),
                   [this] { OnConnectError(); });
  state_ = Connecting;
  // Asynchronous, name resolution included.
  connecting_->connectToHost(QString::fromLatin1(remoteHost_), static_cast<quint16>(remotePort_));
}

// The connection goes on on a copy of Qt's descriptor; closing Qt's own leaves it standing.
void QtSocketControl::OnConnected() {
  QTcpSocket* socket = std::exchange(connecting_, nullptr);
  QObject::disconnect(socket, nullptr, context_.get(), nullptr);
  const int descriptor = ::fcntl(static_cast<int>(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
  remoteHostIP_ = AddressText(socket->peerAddress());
  Discard(socket);
  if (descriptor == -1) {
    FailConnection(qt_error_string(errno).toStdString());
    return;
  }
  TakeOver(descriptor);
  PostEvent("socket Connect", [this] {
    if (handlers_.Connect) handlers_.Connect();
  });
}

void QtSocketControl::OnConnectError() {
  if (connecting_ == nullptr || state_ != Connecting) return;
  const std::string description = connecting_->errorString().toStdString();
  QObject::disconnect(connecting_, nullptr, context_.get(), nullptr);
  Discard(std::exchange(connecting_, nullptr));
  FailConnection(description);
}

void QtSocketControl::TakeOver(int descriptor) {
  descriptor_ = descriptor;
  state_ = Connected;
  OpenConnections().insert(this);
  EnableKeepAlive(descriptor);
  readNotifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, context_.get());
  QObject::connect(readNotifier_, &QSocketNotifier::activated, context_.get(),
                   [this] { OnReadable(); });
  readNotifier_->setEnabled(!receivePaused_);
  writeNotifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Write, context_.get());
  writeNotifier_->setEnabled(false);
  QObject::connect(writeNotifier_, &QSocketNotifier::activated, context_.get(),
                   [this] { QtEventQueue::RunHandler("socket output", [this] { Pump(); }); });
}

void QtSocketControl::DropConnection() {
  stallTimer_->stop();
  if (connecting_ != nullptr) {
    QObject::disconnect(connecting_, nullptr, context_.get(), nullptr);
    Discard(std::exchange(connecting_, nullptr));
  }
  // Off before their descriptor is closed (its number may come back at once), and deleted
  // later: this may run inside one's own notification.
  for (QSocketNotifier* notifier :
       {std::exchange(readNotifier_, nullptr), std::exchange(writeNotifier_, nullptr)}) {
    if (notifier == nullptr) continue;
    notifier->setEnabled(false);
    QObject::disconnect(notifier, nullptr, context_.get(), nullptr);
    notifier->deleteLater();
  }
  OpenConnections().erase(this);
  if (descriptor_ != -1) ::close(std::exchange(descriptor_, -1));
}

void QtSocketControl::Close() {
  ++generation_;
  arrivalPending_ = false;
  delete server_;
  server_ = nullptr;
  DropConnection();
  outgoing_.clear();
  written_ = scanned_ = 0;
  dropped_ = linesEnd_ = reported_ = 0;
  linesReportQueued_ = false;
  aboveHighWater_ = false;
  state_ = Closed;
}

void QtSocketControl::SetReceivePaused(bool paused) {
  receivePaused_ = paused;
  if (readNotifier_ != nullptr && state_ == Connected) {
    readNotifier_->setEnabled(!paused && !arrivalPending_);
  }
}

// Straight from the event loop (or a nested one, while a handler runs: then queued).
void QtSocketControl::OnReadable() {
  if (!MayRead()) {
    readNotifier_->setEnabled(false);
    return;
  }
  ReadOnce();
}

// One read; true when it brought bytes, which are delivered or queued.
bool QtSocketControl::ReadOnce() {
  if (readBuffer_.empty()) readBuffer_.resize(ReadBufferBytes);
  const ssize_t count = ::read(descriptor_, readBuffer_.data(), readBuffer_.size());
  if (count > 0) {
    const std::string_view bytes(readBuffer_.data(), static_cast<size_t>(count));
    auto deliver = [this, bytes] { DeliverArrival(bytes); };
    if (QtEventQueue::RunIfIdle("socket DataArrival", deliver)) return true;
    arrivalPending_ = true;
    readNotifier_->setEnabled(false);
    PostEvent("socket DataArrival", [this, copy = std::string(bytes)] {
      arrivalPending_ = false;
      DeliverArrival(copy);
      SetReceivePaused(receivePaused_);
    });
    return true;
  }
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
  if (count == 0 || PeerGone(errno)) {
    PeerClosed();
  } else {
    FailConnection(qt_error_string(errno).toStdString());
  }
  return false;
}

// Reads what waits, up to CatchUpReads blocks, before a connection request is raised. An
// equipment that closes and dials again at once has its close waiting behind its last bytes;
// unread, its old connection would still count as connected and the new one be refused.
void QtSocketControl::CatchUp() {
  for (int reads = 0; reads < CatchUpReads; ++reads) {
    if (!MayRead() || !ReadOnce()) return;
  }
}

// Connected, not held back, and no arrival waiting to be handled.
bool QtSocketControl::MayRead() const {
  return state_ == Connected && !receivePaused_ && !arrivalPending_;
}

void QtSocketControl::DeliverArrival(std::string_view bytes) {
  if (handlers_.DataArrival) handlers_.DataArrival(bytes);
}

void QtSocketControl::PeerClosed() {
  if (state_ != Connected) return;  // reported once
  state_ = Closing;
  readNotifier_->setEnabled(false);
  writeNotifier_->setEnabled(false);
  PostEvent("socket Close", [this] {
    if (handlers_.Close) handlers_.Close();
  });
}

void QtSocketControl::FailConnection(const std::string& description) {
  state_ = Error;
  if (readNotifier_ != nullptr) readNotifier_->setEnabled(false);
  if (writeNotifier_ != nullptr) writeNotifier_->setEnabled(false);
  PostEvent("socket Error", [this, description] {
    if (handlers_.Error) handlers_.Error(description);
  });
}

void QtSocketControl::SendData(std::string_view data) {
  if (state_ != Connected || data.empty()) return;
  const int64_t queued = BytesToWrite();
  outgoing_.append(data);
  if (queued + static_cast<int64_t>(data.size()) > sendQueueLimit_) {
    DropConnection();
    FailConnection("Send queue full (" + std::to_string(queued) +
                   " bytes not taken by the peer), connection dropped");
    return;
  }
  // The lines a handler sends (a reception of many) go to the kernel together when it ends:
  // one send, not one per line.
  if (!pumpQueued_) {
    pumpQueued_ = true;
    QtEventQueue::AfterHandler(context_.get(), "socket output", [this] {
      pumpQueued_ = false;
      Pump();
    });
  }
  if (!aboveHighWater_ && BytesToWrite() > SendHighWater) aboveHighWater_ = true;
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
  Report("socket LinesWritten", [this] {
    linesReportQueued_ = false;
    const uint64_t bytes = linesEnd_ - reported_;
    reported_ = linesEnd_;
    if (bytes > 0 && handlers_.LinesWritten) handlers_.LinesWritten(bytes);
  });
}

int64_t QtSocketControl::BytesToWrite() const {
  return static_cast<int64_t>(outgoing_.size() - written_);
}

// One send of all that waits: the kernel takes what its buffer holds; the rest waits for the
// write notification, which is on only while output waits.
void QtSocketControl::Pump() {
  if (state_ != Connected || written_ == outgoing_.size()) return;
  const ssize_t sent = ::send(descriptor_, outgoing_.data() + written_, outgoing_.size() - written_,
                              MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    if (PeerGone(errno)) {
      PeerClosed();
    } else {
      FailConnection(qt_error_string(errno).toStdString());
    }
    return;
  }
  if (sent > 0) {
    written_ += static_cast<size_t>(sent);
    stallTimer_->stop();  // the peer takes: the stall count starts again
    ReportLinesWritten();
  }
  if (written_ == outgoing_.size()) {
    dropped_ += outgoing_.size();
    outgoing_.clear();
    written_ = scanned_ = 0;
  } else if (written_ > CompactAboveBytes && written_ > outgoing_.size() / 2) {
    // Forget what went out, keeping the line the kernel has taken only in part.
    const size_t newline = outgoing_.rfind('\n', written_ - 1);
    const size_t keepFrom = newline == std::string::npos ? 0 : newline + 1;
    outgoing_.erase(0, keepFrom);
    dropped_ += keepFrom;
    written_ -= keepFrom;
    scanned_ -= keepFrom;
  }
  const bool waiting = !outgoing_.empty();
  if (writeNotifier_->isEnabled() != waiting) writeNotifier_->setEnabled(waiting);
  if (!waiting) {
    stallTimer_->stop();
  } else if (!stallTimer_->isActive()) {
    stallTimer_->start();
  }
  if (aboveHighWater_ && BytesToWrite() <= SendLowWater) {
    aboveHighWater_ = false;
    Report("socket SendQueueLow", [this] {
      if (handlers_.SendQueueLow) handlers_.SendQueueLow();
    });
  }
}

void QtSocketControl::OnStalled() {
  if (state_ != Connected || BytesToWrite() == 0) return;
  const int64_t waiting = BytesToWrite();
  DropConnection();
  FailConnection("Peer took nothing for " + std::to_string(stallTimer_->interval() / 1000) +
                 " s (" + std::to_string(waiting) + " bytes waiting), connection dropped");
}

std::string QtSocketControl::TakeUnsent() {
  const size_t newline = written_ == 0 ? std::string::npos : outgoing_.rfind('\n', written_ - 1);
  std::string unsent = outgoing_.substr(newline == std::string::npos ? 0 : newline + 1);
  dropped_ += outgoing_.size();
  outgoing_.clear();
  written_ = scanned_ = 0;
  return unsent;
}

std::function<void()> QtSocketControl::OfThisConnection(std::function<void()> event) {
  return [this, generation = generation_, event = std::move(event)] {
    if (generation == generation_) event();
  };
}

void QtSocketControl::PostEvent(const char* where, std::function<void()> event) {
  QtEventQueue::Post(context_.get(), where, OfThisConnection(std::move(event)));
}

void QtSocketControl::Report(const char* where, std::function<void()> event) {
  if (!QtEventQueue::InHandler()) {
    PostEvent(where, std::move(event));
    return;
  }
  QtEventQueue::AfterHandler(context_.get(), where, OfThisConnection(std::move(event)));
}

}  // namespace tarvel
