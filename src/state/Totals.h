#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/Clock.h"
#include "state/ByteCounter.h"

namespace tarvel {

// Totals for the status model: 64-bit, counted from start-up, never wrapped or reset. The
// windows' 16-bit byte counts are made from them (ShownByteCount). They only describe the
// gateway; nothing reads them to decide anything.

// Kept by each input port.
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

  void Received(uint64_t bytes) {
    BytesReceived += bytes;
    RxShownFrom = ShownCountStart(RxShownFrom, BytesReceived);
  }
};

// Kept by the alarm-server link.
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

  void Received(uint64_t bytes) {
    BytesReceived += bytes;
    RxShownFrom = ShownCountStart(RxShownFrom, BytesReceived);
  }
  // One event line, of `bytes` with its line feed.
  void SentLine(uint64_t bytes) {
    BytesSent += bytes;
    TxShownFrom = ShownCountStart(TxShownFrom, BytesSent);
    ++LinesSent;
  }
  void Sent(std::string_view text) {
    BytesSent += text.size();
    TxShownFrom = ShownCountStart(TxShownFrom, BytesSent);
    // Mostly one line ending the text: memchr finds it at once, where a count reads every byte.
    const char* end = text.data() + text.size();
    for (const char* at = text.data(); at != end; ++at) {
      at = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
      if (at == nullptr) break;
      ++LinesSent;
    }
  }
};

}  // namespace tarvel
