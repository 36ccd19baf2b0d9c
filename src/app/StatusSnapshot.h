#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "input/InputPort.h"
#include "output/AlarmServerLink.h"
#include "platform/Clock.h"
#include "state/ProgramState.h"
#include "state/Totals.h"

namespace tarvel {

// The status model: what the main window's connection list and status bar, the status page,
// its JSON, the metrics and the service's STATUS= line show, read at one moment. A plain value
// that each of them renders; the texts they share are made once, here.
struct StatusSnapshot {
  struct Ostrel {
    std::string State;     // the status bar's connection panel
    std::string Counters;  // the status bar's counter panel; empty until a byte went either way
    bool Listening = false;
    bool Connected = false;
    int32_t Port = 0;
    std::string Peer;  // address:port while connected
    OstrelTotals Totals;
    bool Keeping = false;  // BufferIfOstrelNotConnected
    uint64_t KeptLines = 0;
    uint64_t KeptBytes = 0;
    uint64_t KeptLimitBytes = 0;
  };
  struct Port {
    int Number = 0;
    int Row = PortEntry::NoRow;  // its row in the connection list
    std::string Description;
    PortKind Kind = PortKind::NotUsed;
    std::string Status;       // the connection list's Status text
    std::string RxBytes;      // the connection list's "Rx bytes" text; empty until the first byte
    bool Connected = false;   // a serial port counts as connected: it was opened at start-up
    bool DeviceOpen = false;  // a serial port: its device is open now
    std::string Peer;         // address:port of the peer or of the configured remote
    PortTotals Totals;
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

// The owners the status model is read from, all living as long as the gateway.
struct StatusSources {
  const ProgramState& State;
  std::span<const InputPort> Ports;  // with their transports and totals
  const AlarmServerLink& Link;       // with its kept lines and totals
  const uint64_t& Ticks;             // supervision ticks run
};

// Reads the owners; changes nothing. The supervision tick takes one for the windows.
StatusSnapshot TakeStatusSnapshot(const StatusSources& sources);
// The same with what only the status page shows: the start, the time and the recent log lines.
StatusSnapshot TakeStatusSnapshot(const StatusSources& sources, const StatusStart& start,
                                  const LocalTime& now, std::vector<std::string> logLines);

// The texts of the model, numbers in decimal. peer is as in StatusSnapshot::Port and
// StatusSnapshot::Ostrel.
// The connection list's Status text: listenPort is a server port's, commPort a serial port's.
std::string PortStatusText(PortKind kind, bool connected, const std::string& peer,
                           int32_t listenPort, int32_t commPort);
// The status bar's connection panel: listenerPort is where the alarm-server listener was set
// to listen.
std::string OstrelStateText(bool listening, bool connected, const std::string& peer,
                            int32_t listenerPort);
// The status bar's counter panel, of the counts the windows show (ShownByteCount).
std::string OstrelCountersText(int32_t txBytes, int32_t rxBytes);

const char* PortKindName(PortKind kind);

}  // namespace tarvel
