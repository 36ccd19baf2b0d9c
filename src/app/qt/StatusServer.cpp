#include "app/qt/StatusServer.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <string>

#include "app/StatusRendering.h"

namespace tarvel {
namespace {

constexpr int TickWatchMs = 250;
constexpr int RefusedCloseMs = 5000;  // a refused peer that sends nothing is dropped after this
constexpr int IdleCloseMs = 60000;    // a connection that sends nothing for this long is dropped
constexpr int MaxConnections = 32;    // open connections at one time; more are closed at once

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

// Answers on the socket directly and closes it after reading what the peer sent, so that the
// close does not reset the connection before the peer has read the answer.
void AnswerAndClose(QTcpSocket* socket, const char* statusLine, const char* text) {
  const QByteArray body(text);
  socket->write(QByteArray("HTTP/1.1 ") + statusLine +
                "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  socket->readAll();
  socket->disconnectFromHost();
}

// Counts the bytes of each request head (up to its empty line) and of anything after it; more
// than the limit in one of them is refused.
class RequestSizeGuard {
 public:
  // False once the limit is passed.
  bool Take(const QByteArray& data) {
    for (const char c : data) {
      if (++pending_ > StatusServer::MaxRequestBytes) return false;
      matched_ = (c == "\r\n\r\n"[matched_]) ? matched_ + 1 : (c == '\r' ? 1 : 0);
      if (matched_ == 4) {
        matched_ = 0;
        pending_ = 0;
      }
    }
    return true;
  }

 private:
  int64_t pending_ = 0;
  int matched_ = 0;
};

}  // namespace

// Checks every connection before the HTTP server sees it: the peer against the allow-list, and
// each piece of data against the size limit, in a handler connected ahead of the HTTP server's.
// Connections beyond MaxConnections, and connections idle for a minute, are closed, so that
// idle peers cannot hold the server's sockets.
class GuardedTcpServer : public QTcpServer {
 public:
  GuardedTcpServer(QObject* parent, std::function<bool(QTcpSocket*)> admit)
      : QTcpServer(parent), admit_(std::move(admit)) {}

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor) ||
        findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly).size() > MaxConnections) {
      delete socket;
      return;
    }
    if (!admit_(socket)) {
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QTcpSocket::readyRead, socket,
                       [socket] { AnswerAndClose(socket, "403 Forbidden", "Forbidden\n"); });
      QTimer::singleShot(RefusedCloseMs, socket, [socket] { socket->abort(); });
      return;
    }
    auto guard = std::make_shared<RequestSizeGuard>();
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    QObject::connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start(IdleCloseMs);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, guard, idle] {
      idle->start(IdleCloseMs);
      if (socket->state() != QAbstractSocket::ConnectedState) return;
      if (!guard->Take(socket->peek(socket->bytesAvailable())))
        AnswerAndClose(socket, "413 Payload Too Large", "Request too large\n");
    });
    addPendingConnection(socket);
  }

 private:
  std::function<bool(QTcpSocket*)> admit_;
};

StatusServer::StatusServer(const ProgramState& state, const Controls& controls,
                           const KeptLines& kept, const Clock& clock, LogFile& log)
    : state_(state), controls_(controls), kept_(kept), clock_(clock), log_(log), refusals_(clock) {
  start_.At = clock.Now();
  start_.EpochSeconds = QDateTime::currentSecsSinceEpoch();
  log_.SetObserver([this](const std::string& line) { recentLog_.Add(line); });
  state_.Statistics.SetClock(clock);
}

StatusServer::~StatusServer() {
  log_.SetObserver(nullptr);
}

void StatusServer::Start() {
  const GeneralSettings& general = state_.General;
  if (general.StatusPort == 0) return;
  const std::string where = general.StatusBindAddress + ":" + std::to_string(general.StatusPort);
  QHostAddress address;
  QString error = QStringLiteral("invalid port");
  if (general.StatusPort > 0 && general.StatusPort <= 65535 &&
      address.setAddress(QString::fromStdString(general.StatusBindAddress))) {
    server_ = new GuardedTcpServer(this, [this](QTcpSocket* socket) { return Admit(socket); });
    if (server_->listen(address, static_cast<quint16>(general.StatusPort))) {
      bind(server_);
      sinceTick_.start();
      lastTicks_ = state_.Statistics.Ticks;
      connect(&tickWatch_, &QTimer::timeout, this, [this] { WatchTick(); });
      tickWatch_.start(TickWatchMs);
      log_.WriteLog("Status server listening at " + where);
      return;
    }
    error = server_->errorString();
    delete server_;
    server_ = nullptr;
  }
  log_.WriteLog("Could not set status port (" + where +
                ") to listen mode, err: " + error.toStdString());
}

int StatusServer::Port() const {
  return server_ != nullptr ? server_->serverPort() : 0;
}

bool StatusServer::Admit(QTcpSocket* socket) {
  const std::string address = AddressText(socket->peerAddress());
  if (state_.General.StatusAllowedHosts.Allows(address)) return true;
  const std::string text =
      "Refused status connection from " + address + ":" + std::to_string(socket->peerPort());
  if (auto line = refusals_.Admit(address, text)) log_.WriteLog(*line);
  return false;
}

void StatusServer::WatchTick() {
  if (state_.Statistics.Ticks == lastTicks_) return;
  lastTicks_ = state_.Statistics.Ticks;
  sinceTick_.restart();
}

bool StatusServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  WatchTick();
  StatusRequestContext context;
  context.Snapshot = [this] {
    return TakeStatusSnapshot(state_, controls_, kept_, start_, clock_.Now(), recentLog_.Lines());
  };
  const SocketControl* listener = controls_.WinsockOstrelConnect;
  context.OstrelListening = listener != nullptr && listener->State() == SocketControl::Listening;
  context.OstrelPort = state_.General.OstrelPort;
  context.MsSinceTick = sinceTick_.elapsed();
  const std::string method = request.method() == QHttpServerRequest::Method::Get ? "GET" : "OTHER";
  const StatusAnswer answer =
      AnswerStatusRequest(method, request.url().path().toStdString(), context);
  const auto status = static_cast<QHttpServerResponder::StatusCode>(answer.Code);
  QHttpServerResponder responder = makeResponder(request, socket);
  const QByteArray type = Bytes(answer.ContentType);
  if (answer.Code == 405) {
    responder.write(Bytes(answer.Body), {{"Content-Type", type}, {"Allow", "GET"}}, status);
  } else {
    responder.write(Bytes(answer.Body), {{"Content-Type", type}, {"Cache-Control", "no-store"}},
                    status);
  }
  return true;
}

void StatusServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

}  // namespace tarvel
