#pragma once

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <span>

#include "app/StatusSnapshot.h"
#include "diag/LogFile.h"
#include "diag/RecentLogLines.h"
#include "diag/RefusalLogLimiter.h"
#include "platform/Clock.h"
#include "state/Controls.h"
#include "state/ProgramState.h"

class QTcpSocket;

namespace tarvel {

class GuardedTcpServer;

// The status server: the status page, /status.json, /metrics and /healthz over HTTP on the
// event loop's thread. Read-only: it renders snapshots of the state and the statistics and
// changes nothing of the gateway. Made before start-up, so that the page shows the log lines
// and the time of the start; Start() opens it once the settings are read.
class StatusServer : public QAbstractHttpServer {
  Q_OBJECT

 public:
  // The largest request (head, or data after a head) taken; a larger one gets 413 and is closed.
  static constexpr int64_t MaxRequestBytes = 8 * 1024;
  // How long a request head may take, in ms: on a new connection from its start, on a kept-alive
  // one from the head's first byte; a connection past it is closed. A browser or a scraper sends
  // its head in one packet right after connecting; 5 s leaves room for two retransmissions
  // (1 s and 2 s) on a lossy link, and is all a peer that sends nothing, or a byte at a time,
  // can hold a connection for.
  static constexpr int DefaultHeadDeadlineMs = 5000;

  StatusServer(const StatusSources& sources, const Controls& controls, const Clock& clock,
               LogFile& log, int headDeadlineMs = DefaultHeadDeadlineMs);
  ~StatusServer() override;

  // Listens on StatusBindAddress:StatusPort when StatusPort is set. A port that cannot listen
  // is logged, and the gateway goes on without the status server; the log line is returned
  // (empty when listening or not asked to), so that the terminal gets the reason too.
  std::string Start();
  // The port listened on, 0 when not listening.
  int Port() const;

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  // Whether a new connection's peer (its address and port as the connection was taken) may
  // read; a refused one is logged (rate-limited).
  bool Admit(const std::string& address, int32_t port);
  void WatchTick();

  const StatusSources sources_;
  const ProgramState& state_;
  const Controls& controls_;
  const Clock& clock_;
  LogFile& log_;
  const int headDeadlineMs_;
  RecentLogLines recentLog_;
  RefusalLogLimiter refusals_;
  StatusStart start_;
  GuardedTcpServer* server_ = nullptr;
  QTimer tickWatch_;
  QElapsedTimer sinceTick_;
  uint64_t lastTicks_ = 0;
};

}  // namespace tarvel
