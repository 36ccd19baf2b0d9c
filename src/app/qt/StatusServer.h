#pragma once

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>

#include "app/StatusSnapshot.h"
#include "diag/LogFile.h"
#include "diag/RecentLogLines.h"
#include "diag/RefusalLogLimiter.h"
#include "platform/Clock.h"
#include "platform/Controls.h"
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

  StatusServer(const ProgramState& state, const Controls& controls, const KeptLines& kept,
               const Clock& clock, LogFile& log);
  ~StatusServer() override;

  // Listens on StatusBindAddress:StatusPort when StatusPort is set. A port that cannot listen
  // is logged, and the gateway goes on without the status server.
  void Start();
  // The port listened on, 0 when not listening.
  int Port() const;

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  // Whether a new connection's peer may read; a refused one is logged (rate-limited).
  bool Admit(QTcpSocket* socket);
  void WatchTick();

  const ProgramState& state_;
  const Controls& controls_;
  const KeptLines& kept_;
  const Clock& clock_;
  LogFile& log_;
  RecentLogLines recentLog_;
  RefusalLogLimiter refusals_;
  StatusStart start_;
  GuardedTcpServer* server_ = nullptr;
  QTimer tickWatch_;
  QElapsedTimer sinceTick_;
  uint64_t lastTicks_ = 0;
};

}  // namespace tarvel
