#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "output/KeptLines.h"
#include "platform/Clock.h"
#include "state/Controls.h"
#include "state/GatewayStatistics.h"
#include "state/ProgramState.h"

namespace tarvel {

// What the status page, its JSON and the metrics show, read at one moment.
struct StatusSnapshot {
  struct Ostrel {
    std::string State;  // the status bar's connection text
    bool Listening = false;
    bool Connected = false;
    int32_t Port = 0;
    std::string Peer;  // address:port while connected
    GatewayStatistics::OstrelTotals Totals;
    bool Keeping = false;  // BufferIfOstrelNotConnected
    uint64_t KeptLines = 0;
    uint64_t KeptBytes = 0;
    uint64_t KeptLimitBytes = 0;
  };
  struct Port {
    int Number = 0;
    std::string Description;
    PortKind Kind = PortKind::NotUsed;
    std::string Status;  // the connection list's Status text
    bool Connected = false;
    std::string Peer;  // address:port of the peer or of the configured remote
    GatewayStatistics::PortTotals Totals;
    int32_t PollFailTimeout = 0;
    bool Failed = false;  // in the failed condition of the silence supervision
    // A TCP client port that is not connected: seconds until its next connection attempt, as
    // the supervision tick counts them (whole seconds, the attempt comes in the last of them).
    std::optional<int32_t> NextAttemptSeconds;
  };
  struct WatchDog {
    std::string TagName;
    int32_t IntervalSeconds = 0;
    int32_t SecondsSinceLast = 0;
  };

  std::string Version;
  LocalTime StartedAt;
  int64_t StartedAtEpochSeconds = 0;  // for the metrics
  LocalTime Now;
  Ostrel TheOstrel;
  std::vector<Port> Ports;  // the ports in use, in port order
  WatchDog TheWatchDog;
  uint64_t Ticks = 0;
  std::vector<std::string> LogLines;  // oldest first
};

// When and how the process started, as the status server was told.
struct StatusStart {
  LocalTime At;
  int64_t EpochSeconds = 0;
};

// Reads the state, the statistics and the controls' present state; changes nothing.
StatusSnapshot TakeStatusSnapshot(const ProgramState& state, const Controls& controls,
                                  const KeptLines& kept, const StatusStart& start,
                                  const LocalTime& now, std::vector<std::string> logLines);

const char* PortKindName(PortKind kind);

}  // namespace tarvel
