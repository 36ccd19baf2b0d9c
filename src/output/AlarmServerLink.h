#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/TrafficTrace.h"
#include "output/EventSink.h"
#include "output/KeptLines.h"
#include "platform/Clock.h"
#include "platform/KeepFileIo.h"
#include "state/Controls.h"
#include "state/ProgramState.h"
#include "state/Totals.h"

namespace tarvel {

// The link to the alarm server, and the one way out of the gateway. It owns:
//   - the listener and the current connection: the alarm server connects, and a newer
//     connection replaces an older one; a host outside OstrelAllowedHosts is refused and leaves
//     the current connection alone;
//   - the decision to send or keep every finished line (Forward), the kept lines and the keep
//     file;
//   - the watchdog line, its timing and sending;
//   - the push-back towards the input ports: while more than SendHighWater bytes wait unsent,
//     holdInput(true) pauses the TCP input ports (TCP flow control then holds the equipment
//     back) and no kept lines are handed over, until SendQueueLow.
// connectionChanged is called whenever the connection may have changed, so that the windows
// show it at once.
//
// A connection that ends with lines unsent puts them back in front of the kept lines. Kept
// lines count as sent once the operating system has taken them (LinesWritten), not when they
// are handed to the socket: the socket's own queue dies with the process, so what waits there
// must still be in the keep file after a kill. A stop hands what is unsent back to the kept
// lines and syncs the file first (LeaveForNextStart).
class AlarmServerLink : public EventSink {
 public:
  // Kept lines handed to the connection at once, at most (whole lines). Pieces follow each
  // other while the alarm server keeps up; once its unsent output passes SendHighWater the
  // rest waits for SendQueueLow, so a large backlog goes at the peer's speed in bounded memory.
  static constexpr uint64_t KeptPieceBytes = 1u << 20;

  // keepIo: the keep file's I/O; null keeps in memory only, whatever KeepFile says.
  AlarmServerLink(const ProgramState& state, const Clock& clock, const Controls& controls,
                  LogFile& log, TrafficTrace& trace, std::function<void()> connectionChanged,
                  std::function<void(bool hold)> holdInput, KeepFileIo* keepIo = nullptr);

  // Sets the handlers of the listening and the data socket.
  void Attach();

  // Every finished event's line: sent while an alarm server is connected (behind any kept
  // lines still going out), else kept if BufferIfOstrelNotConnected is on and the kept text is
  // below KeepLimit, else dropped without a trace. Lines sent are counted at once, then traced
  // and handed to the socket together by Flush(); kept lines are written to the keep file by
  // Flush().
  void Forward(const EventView& event) override;
  void Flush() override;

  // On every supervision tick, after the ports' own supervision: in a tick that ends a second,
  // the watchdog line when it is due; then the keep file is made durable and the next piece of
  // kept lines goes to a connected alarm server.
  void Tick(bool secondEnded);

  // Takes up the kept lines at start-up; the error text when the keep file must not be used.
  std::string OpenKeptLines();

  // Before the process ends on a stop: what the connection has not sent goes back to the kept
  // lines, the keep file is made durable, and one log line says what is left for the next
  // start.
  void LeaveForNextStart();

  // What the status model reads.
  // The listener listens (it may have failed to at start-up).
  bool Listening() const;
  // Where the listener was set to listen.
  int32_t ListenerPort() const;
  // The alarm server counts as connected while the data socket reports Connected.
  bool IsConnected() const;
  // The connected alarm server's address:port; empty while none is connected.
  std::string Peer() const;
  const KeptLines& Kept() const { return kept_; }
  const OstrelTotals& Totals() const { return totals_; }
  // Seconds counted towards the next watchdog line.
  int32_t WatchDogSeconds() const { return watchDogSeconds_; }

  // Event handlers.
  void ConnectionRequest(int32_t requestId);
  void Close();
  void Error(const std::string& description);
  void DataArrival(std::string_view bytes);
  void SendQueueLow();
  void LinesWritten(uint64_t bytes);

 private:
  // The kept lines; taken up (KeepLimit, KeepFile) on first use, after start-up has read them.
  KeptLines& OpenedKept() {
    if (!keptOpened_) OpenKept();
    return kept_;
  }
  void OpenKept();
  void SendWatchDog();
  void HoldInput(bool hold);
  void EndConnection();
  void PutBackUnsentLines(const std::string& others, uint64_t keptLines);
  void SendKeptLines();
  // Hands the lines forwarded since the last flush to the socket. Every other road to the
  // socket calls it first, so that no line overtakes another.
  void SendForwarded();
  // Traces, sends and counts the text; does nothing at all while not connected. The caller
  // has sent the forwarded lines first.
  void Send(std::string_view text, bool kept);
  // Sends text already traced and counted.
  void Hand(std::string_view text, bool kept);
  void Trace(std::string_view text);
  void TraceForwarded();

  // The connection's output not yet reported taken by the operating system, in order, as
  // stretches of kept lines (still in the keep file) and of other lines.
  struct Stretch {
    uint64_t Bytes = 0;
    bool Kept = false;
  };
  std::deque<Stretch> unconfirmed_;
  uint64_t unconfirmedBytes_ = 0;
  // Lines forwarded while connected, counted, not yet traced nor handed to the socket.
  std::string forwarded_;
  std::string line_;  // an event's line on its way to the kept lines, reused

  const ProgramState& state_;
  const Clock& clock_;
  const Controls& controls_;
  LogFile& log_;
  TrafficTrace& trace_;
  std::function<void()> connectionChanged_;
  std::function<void(bool hold)> holdInput_;
  bool inputHeld_ = false;
  RefusalLogLimiter refusals_;
  RefusalLogLimiter traceFaults_;  // one log line a minute while the trace keeps failing
  KeptLines kept_;
  bool keptOpened_ = false;
  int32_t watchDogSeconds_ = 0;
  OstrelTotals totals_;
};

}  // namespace tarvel
