#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/Clock.h"
#include "state/ByteCounter.h"

namespace tarvel {

// Totals for the status model: 64-bit, counted from start-up, never wrapped or reset. The
// windows' 16-bit byte counts are made from them (ShownByteCount). They only describe the
// gateway; nothing reads them to decide anything. Times come from the clock set with SetClock;
// without one (tests that do not care) they stay unknown.
struct GatewayStatistics {
  struct PortTotals {
    uint64_t BytesReceived = 0;
    uint64_t RxShownFrom = 0;      // BytesReceived where the "Rx bytes" column last restarted
    uint64_t LinesReceived = 0;    // line-feed-ended lines, rejected ones included
    uint64_t EventsForwarded = 0;  // event lines handed to the alarm-server output
    uint64_t LinesRejected = 0;    // lines dropped as unreadable, logged
    uint64_t SilenceFailures = 0;  // "have failed" lines
    uint64_t Reconnects = 0;       // connection attempts of a TCP client port
    uint64_t RefusedConnections = 0;
    std::optional<LocalTime> LastLineAt;
    std::optional<LocalTime> FailedAt;    // the last "have failed" line
    std::optional<LocalTime> RestoredAt;  // the last "has been restored" line
  };

  struct OstrelTotals {
    uint64_t BytesSent = 0;
    uint64_t TxShownFrom = 0;  // BytesSent where the status bar's TxBytes last restarted
    uint64_t LinesSent = 0;
    uint64_t BytesReceived = 0;
    uint64_t RxShownFrom = 0;  // BytesReceived where the status bar's RxBytes last restarted
    uint64_t Connections = 0;  // accepted alarm-server connections
    uint64_t RefusedConnections = 0;
    uint64_t LinesDroppedAtLimit = 0;  // kept text was full
    uint64_t LinesNotKept = 0;         // keeping is off and no alarm server was connected
    std::optional<LocalTime> ConnectedAt;
  };

  void SetClock(const Clock& clock) { clock_ = &clock; }
  std::optional<LocalTime> Now() const {
    return clock_ != nullptr ? std::optional<LocalTime>(clock_->Now()) : std::nullopt;
  }

  // The one-line hooks of the event handling.
  void SilenceFailed(int port) {
    ++Ports[port].SilenceFailures;
    Ports[port].FailedAt = Now();
  }
  void SilenceRestored(int port) { Ports[port].RestoredAt = Now(); }
  void OstrelAccepted() {
    ++Ostrel.Connections;
    Ostrel.ConnectedAt = Now();
  }
  void PortReceived(int port, uint64_t bytes) {
    PortTotals& totals = Ports[port];
    totals.BytesReceived += bytes;
    totals.RxShownFrom = ShownCountStart(totals.RxShownFrom, totals.BytesReceived);
  }
  void OstrelReceived(uint64_t bytes) {
    Ostrel.BytesReceived += bytes;
    Ostrel.RxShownFrom = ShownCountStart(Ostrel.RxShownFrom, Ostrel.BytesReceived);
  }
  void OstrelSent(std::string_view text) {
    Ostrel.BytesSent += text.size();
    Ostrel.TxShownFrom = ShownCountStart(Ostrel.TxShownFrom, Ostrel.BytesSent);
    // Mostly one line ending the text: memchr finds it at once, where a count reads every byte.
    const char* end = text.data() + text.size();
    for (const char* at = text.data(); at != end; ++at) {
      at = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
      if (at == nullptr) break;
      ++Ostrel.LinesSent;
    }
  }
  void LineNotSent(bool keeping) { ++(keeping ? Ostrel.LinesDroppedAtLimit : Ostrel.LinesNotKept); }

  std::array<PortTotals, 8> Ports{};
  OstrelTotals Ostrel;
  uint64_t Ticks = 0;  // supervision ticks run

 private:
  const Clock* clock_ = nullptr;
};

}  // namespace tarvel
