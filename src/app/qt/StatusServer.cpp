#include "app/qt/StatusServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "app/StatusRendering.h"
#include "diag/PeerText.h"

namespace tarvel {
namespace {

constexpr int TickWatchMs = 250;
constexpr int IdleCloseMs = 60000;    // a kept-alive connection may wait this long for a request
constexpr int MaxConnections = 32;    // open connections at one time, the one for /healthz included
constexpr int AcceptRetryMs = 1000;   // after a failed accept (no descriptor left, for one)
constexpr int AcceptsPerWakeUp = 64;  // so that a flood of connections cannot starve the loop

// IPv4 peers of a dual-stack listener show as ::ffff:a.b.c.d; the allow-list and the log
// want a.b.c.d.
std::string AddressText(const QHostAddress& address) {
  bool isIPv4 = false;
  const quint32 ipv4 = address.toIPv4Address(&isIPv4);
  return (isIPv4 ? QHostAddress(ipv4) : address).toString().toStdString();
}

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray PlainAnswer(const char* statusLine, const char* text) {
  const QByteArray body(text);
  return QByteArray("HTTP/1.1 ") + statusLine +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Answers on the socket directly and closes it after reading what the peer sent, so that the
// close does not reset the connection before the peer has read the answer.
void AnswerAndClose(QTcpSocket* socket, const char* statusLine, const char* text) {
  socket->write(PlainAnswer(statusLine, text));
  socket->readAll();
  socket->disconnectFromHost();
}

// Follows the requests on one connection: where each head begins and ends (its empty line), its
// size (a head, or data after it, counts until the next empty line) and its request line.
class RequestHeads {
 public:
  enum class Wait {
    ForRequest,  // every head is complete: the connection waits for the next request
    HeadGoesOn,  // a head begun before goes on
    NewHead,     // a head began in these bytes and is not complete yet
  };
  struct Seen {
    bool TooLarge = false;         // a head passed MaxRequestBytes
    bool OtherThanHealth = false;  // a complete head asked for more than GET /healthz
    Wait Then = Wait::HeadGoesOn;
  };

  Seen Take(const QByteArray& data) {
    Seen seen;
    bool began = false;
    for (const char c : data) {
      if (!inHead_) inHead_ = began = true;
      if (++pending_ > StatusServer::MaxRequestBytes) {
        seen.TooLarge = true;
        return seen;
      }
      if (!lineDone_) {
        lineDone_ = c == '\n';
        if (!lineDone_ && line_.size() < LineKept) line_ += c;
      }
      matched_ = (c == "\r\n\r\n"[matched_]) ? matched_ + 1 : (c == '\r' ? 1 : 0);
      if (matched_ == 4) {
        seen.OtherThanHealth |= !AsksForHealth();
        *this = RequestHeads();
        inHead_ = began = false;
      }
    }
    seen.Then = !inHead_ ? Wait::ForRequest : (began ? Wait::NewHead : Wait::HeadGoesOn);
    return seen;
  }

 private:
  static constexpr size_t LineKept = 16;  // enough for "GET /healthz " or "GET /healthz?"
  bool AsksForHealth() const {
    const std::string_view line(line_);
    return line.rfind("GET /healthz ", 0) == 0 || line.rfind("GET /healthz?", 0) == 0;
  }

  bool inHead_ = true;  // a new connection's first head is due from its start
  int64_t pending_ = 0;
  int matched_ = 0;
  bool lineDone_ = false;
  std::string line_;
};

}  // namespace

// Takes every connection before the HTTP server sees it. The accept is its own, because only
// accept() tells the peer's address once the peer has reset the connection. A peer outside the
// allow-list gets 403 and is closed at once. Of MaxConnections, the last is kept for /healthz: a
// connection taken into it is answered only while its requests are GET /healthz. A request head
// must be complete within the head deadline, and more than MaxRequestBytes gets 413.
class GuardedTcpServer : public QTcpServer {
 public:
  using Admit = std::function<bool(const std::string& address, int32_t port)>;

  GuardedTcpServer(QObject* parent, Admit admit, int headDeadlineMs)
      : QTcpServer(parent), admit_(std::move(admit)), headDeadlineMs_(headDeadlineMs) {}
  ~GuardedTcpServer() override {
    delete notifier_;
    if (acceptDescriptor_ >= 0) ::close(acceptDescriptor_);
  }

  // Listens, and accepts on a second descriptor of the listening socket, so that Qt's own
  // accepting can stay off. Empty, or what failed.
  QString Listen(const QHostAddress& address, quint16 port) {
    if (!listen(address, port)) return errorString();
    pauseAccepting();
    acceptDescriptor_ = ::fcntl(static_cast<int>(socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (acceptDescriptor_ < 0) {
      const QString error = QString::fromLocal8Bit(std::strerror(errno));
      close();
      return error;
    }
    notifier_ = new QSocketNotifier(acceptDescriptor_, QSocketNotifier::Read, this);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { AcceptWaiting(); });
    return {};
  }

  // Qt turns its own accepting back on here; it stays off.
  QTcpSocket* nextPendingConnection() override {
    QTcpSocket* socket = QTcpServer::nextPendingConnection();
    pauseAccepting();
    return socket;
  }

 private:
  void AcceptWaiting() {
    for (int n = 0; n < AcceptsPerWakeUp; ++n) {
      sockaddr_storage peer{};
      socklen_t size = sizeof peer;
      const int descriptor = ::accept4(acceptDescriptor_, reinterpret_cast<sockaddr*>(&peer), &size,
                                       SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (descriptor >= 0) {
        Take(descriptor, peer);
      } else if (errno != EINTR && errno != ECONNABORTED) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {  // out of descriptors or memory
          notifier_->setEnabled(false);
          QTimer::singleShot(AcceptRetryMs, notifier_, [this] { notifier_->setEnabled(true); });
        }
        return;
      }
    }
  }

  void Take(int descriptor, const sockaddr_storage& peer) {
    const QHostAddress address(reinterpret_cast<const sockaddr*>(&peer));
    int32_t port = 0;
    if (peer.ss_family == AF_INET)
      port = ntohs(reinterpret_cast<const sockaddr_in&>(peer).sin_port);
    if (peer.ss_family == AF_INET6)
      port = ntohs(reinterpret_cast<const sockaddr_in6&>(peer).sin6_port);
    const std::string text = address.isNull() ? std::string() : AddressText(address);
    if (!admit_(text, port)) {
      Refuse(descriptor);
      return;
    }
    const bool forHealth = regular_ >= MaxConnections - 1;
    if (forHealth && forHealthTaken_) {  // every slot taken: closed at once
      ::close(descriptor);
      return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      delete socket;
      ::close(descriptor);
      return;
    }
    if (forHealth) {
      forHealthTaken_ = true;
    } else {
      ++regular_;
    }
    Watch(socket, forHealth);
    addPendingConnection(socket);
  }

  // What the peer sent so far is read, so that the close does not reset the connection before
  // the peer has read the answer; the answer fits the socket's send buffer.
  static void Refuse(int descriptor) {
    char discard[4096];
    for (int n = 0; n < 4 && ::recv(descriptor, discard, sizeof discard, MSG_DONTWAIT) > 0; ++n) {
    }
    const QByteArray answer = PlainAnswer("403 Forbidden", "Forbidden\n");
    [[maybe_unused]] const ssize_t sent =
        ::send(descriptor, answer.constData(), static_cast<size_t>(answer.size()),
               MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(descriptor);
  }

  // Runs ahead of the HTTP server's handler, connected before it.
  void Watch(QTcpSocket* socket, bool forHealth) {
    QObject::connect(socket, &QObject::destroyed, this, [this, forHealth] {
      if (forHealth) {
        forHealthTaken_ = false;
      } else {
        --regular_;
      }
    });
    auto heads = std::make_shared<RequestHeads>();
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(headDeadlineMs_);
    const int headMs = headDeadlineMs_;
    QObject::connect(
        socket, &QTcpSocket::readyRead, socket, [socket, heads, deadline, forHealth, headMs] {
          if (socket->state() != QAbstractSocket::ConnectedState) return;
          const RequestHeads::Seen seen = heads->Take(socket->peek(socket->bytesAvailable()));
          if (seen.TooLarge) {
            AnswerAndClose(socket, "413 Payload Too Large", "Request too large\n");
          } else if (forHealth && seen.OtherThanHealth) {
            AnswerAndClose(socket, "503 Service Unavailable", "Too many connections\n");
          } else if (seen.Then == RequestHeads::Wait::ForRequest) {
            deadline->start(IdleCloseMs);
          } else if (seen.Then == RequestHeads::Wait::NewHead) {
            deadline->start(headMs);
          }
        });
  }

  Admit admit_;
  const int headDeadlineMs_;
  int acceptDescriptor_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  int regular_ = 0;              // open connections in the slots for any request
  bool forHealthTaken_ = false;  // the slot kept for /healthz holds a connection
};

StatusServer::StatusServer(const StatusSources& sources, const Controls& controls,
                           const Clock& clock, LogFile& log, int headDeadlineMs)
    : sources_(sources),
      state_(sources.State),
      controls_(controls),
      clock_(clock),
      log_(log),
      headDeadlineMs_(headDeadlineMs),
      refusals_(clock) {
  start_.At = clock.Now();
  start_.EpochSeconds = QDateTime::currentSecsSinceEpoch();
  log_.SetObserver([this](const std::string& line) { recentLog_.Add(line); });
}

StatusServer::~StatusServer() {
  log_.SetObserver(nullptr);
}

std::string StatusServer::Start() {
  const GeneralSettings& general = state_.General;
  if (general.StatusPort == 0) return {};
  const std::string where = general.StatusBindAddress + ":" + std::to_string(general.StatusPort);
  QHostAddress address;
  QString error = QStringLiteral("invalid port");
  if (general.StatusPort > 0 && general.StatusPort <= 65535 &&
      address.setAddress(QString::fromStdString(general.StatusBindAddress))) {
    server_ = new GuardedTcpServer(
        this, [this](const std::string& peer, int32_t port) { return Admit(peer, port); },
        headDeadlineMs_);
    error = server_->Listen(address, static_cast<quint16>(general.StatusPort));
    if (error.isEmpty()) {
      bind(server_);
      sinceTick_.start();
      lastTicks_ = sources_.Ticks;
      connect(&tickWatch_, &QTimer::timeout, this, [this] { WatchTick(); });
      tickWatch_.start(TickWatchMs);
      log_.WriteLog("Status server listening at " + where);
      return {};
    }
    delete server_;
    server_ = nullptr;
  }
  const std::string failure =
      "Could not set status port (" + where + ") to listen mode, err: " + error.toStdString();
  log_.WriteLog(failure);
  return failure;
}

int StatusServer::Port() const {
  return server_ != nullptr ? server_->serverPort() : 0;
}

bool StatusServer::Admit(const std::string& address, int32_t port) {
  if (state_.General.StatusAllowedHosts.Allows(address)) return true;
  const std::string text = "Refused status connection from " + PeerText(address, port);
  if (auto line = refusals_.Admit(address, text)) log_.WriteLog(*line);
  return false;
}

void StatusServer::WatchTick() {
  if (sources_.Ticks == lastTicks_) return;
  lastTicks_ = sources_.Ticks;
  sinceTick_.restart();
}

bool StatusServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  WatchTick();
  StatusRequestContext context;
  context.Snapshot = [this] {
    return TakeStatusSnapshot(sources_, start_, clock_.Now(), recentLog_.Lines());
  };
  const SocketControl* listener = controls_.WinsockOstrelConnect;
  context.OstrelListening = listener != nullptr && listener->State() == SocketControl::Listening;
  context.OstrelPort = state_.General.OstrelPort;
  context.MsSinceTick = sinceTick_.elapsed();
  std::string method = "OTHER";
  if (request.method() == QHttpServerRequest::Method::Get) method = "GET";
  if (request.method() == QHttpServerRequest::Method::Head) method = "HEAD";
  const StatusAnswer answer =
      AnswerStatusRequest(method, request.url().path().toStdString(), context);
  const auto status = static_cast<QHttpServerResponder::StatusCode>(answer.Code);
  QHttpServerResponder responder = makeResponder(request, socket);
  const QByteArray type = Bytes(answer.ContentType);
  const QByteArray body = Bytes(answer.Body);
  if (answer.Code == 405) {
    responder.write(body, {{"Content-Type", type}, {"Allow", AllowedStatusMethods}}, status);
  } else if (answer.SendBody) {
    responder.write(body, {{"Content-Type", type}, {"Cache-Control", "no-store"}}, status);
  } else {
    // The head that write() gives the body, with the body's length and without the body.
    responder.writeStatusLine(status);
    responder.writeHeaders({{"Content-Type", type},
                            {"Cache-Control", "no-store"},
                            {"Content-Length", QByteArray::number(body.size())}});
    responder.writeBody(QByteArray());
  }
  return true;
}

void StatusServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

}  // namespace tarvel
