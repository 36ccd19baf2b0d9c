#include "app/StatusSnapshot.h"

#include "app/Version.h"
#include "diag/PeerText.h"
#include "state/ByteCounter.h"

namespace tarvel {
namespace {

bool IsConnected(const SocketControl* socket) {
  return socket != nullptr && socket->State() == SocketControl::Connected;
}

}  // namespace

const char* PortKindName(PortKind kind) {
  switch (kind) {
    case PortKind::TcpServer:
      return "tcp_server";
    case PortKind::TcpClient:
      return "tcp_client";
    case PortKind::Serial:
      return "serial";
    case PortKind::NotUsed:
      break;
  }
  return "not_used";
}

std::string PortStatusText(PortKind kind, bool connected, const std::string& peer,
                           int32_t listenPort, int32_t commPort) {
  switch (kind) {
    case PortKind::TcpServer:
      return connected ? "Connected to " + peer
                       : "Waiting for connection at port " + std::to_string(listenPort);
    case PortKind::TcpClient:
      return (connected ? "Connected to " : "Disconnected from ") + peer;
    case PortKind::Serial:
      return "Connected to COM" + std::to_string(commPort) + " (" + peer + ")";
    case PortKind::NotUsed:
      break;
  }
  return "";
}

std::string OstrelStateText(bool listening, bool connected, const std::string& peer,
                            int32_t listenerPort) {
  const std::string port = std::to_string(listenerPort);
  if (!listening) return "Warning! Ostrel connections at port " + port + " is disabled!";
  if (connected) return "Connected to Ostrel " + peer;
  return "Waiting for Ostrel connection at port " + port;
}

std::string OstrelCountersText(int32_t txBytes, int32_t rxBytes) {
  return "Ostrel TxBytes:" + std::to_string(txBytes) + ", RxBytes:" + std::to_string(rxBytes);
}

StatusSnapshot TakeStatusSnapshot(const StatusSources& sources) {
  const ProgramState& state = sources.State;
  const AlarmServerLink& link = sources.Link;
  StatusSnapshot snapshot;
  snapshot.Version = ProgramVersion;
  snapshot.Ticks = sources.Ticks;

  StatusSnapshot::Ostrel& ostrel = snapshot.TheOstrel;
  ostrel.Listening = link.Listening();
  ostrel.Port = state.General.OstrelPort;
  ostrel.Connected = link.IsConnected();
  ostrel.Peer = link.Peer();
  ostrel.State =
      OstrelStateText(ostrel.Listening, ostrel.Connected, ostrel.Peer, link.ListenerPort());
  ostrel.Totals = link.Totals();
  const OstrelTotals& totals = ostrel.Totals;
  if (totals.BytesSent > 0 || totals.BytesReceived > 0) {
    ostrel.Counters = OstrelCountersText(ShownByteCount(totals.BytesSent, totals.TxShownFrom),
                                         ShownByteCount(totals.BytesReceived, totals.RxShownFrom));
  }
  ostrel.Keeping = state.General.BufferIfOstrelNotConnected;
  const KeptLines& kept = link.Kept();
  ostrel.KeptLines = kept.Lines();
  ostrel.KeptBytes = kept.Bytes();
  ostrel.KeptLimitBytes = kept.Limit();

  for (const InputPort& input : sources.Ports) {
    const PortEntry& entry = input.Settings();
    if (entry.Kind == PortKind::NotUsed) continue;
    const int16_t n = input.Number();
    StatusSnapshot::Port port;
    port.Number = n;
    port.Row = entry.ConnectionListItem;
    port.Description = entry.Description;
    port.Kind = entry.Kind;
    const SocketControl* socket = input.Transport().Data;
    switch (entry.Kind) {
      case PortKind::TcpServer: {
        port.Connected = IsConnected(socket);
        if (port.Connected) port.Peer = HostPortText(socket->RemoteHostIP(), socket->RemotePort());
        const SocketControl* portListener = input.Transport().Listener;
        port.Status = PortStatusText(entry.Kind, port.Connected, port.Peer,
                                     portListener != nullptr ? portListener->LocalPort() : 0, 0);
        break;
      }
      case PortKind::TcpClient:
        port.Connected = IsConnected(socket);
        if (socket == nullptr) break;
        port.Peer = HostPortText(socket->RemoteHost(), socket->RemotePort());
        port.Status = PortStatusText(entry.Kind, port.Connected, port.Peer, 0, 0);
        if (!port.Connected) port.NextAttemptSeconds = input.StepsUntilReconnect();
        break;
      case PortKind::Serial: {
        const SerialControl* serial = input.Transport().Serial;
        port.Connected = true;  // a serial port in use was opened at start-up
        port.DeviceOpen = serial != nullptr && serial->PortOpen();
        port.Peer = entry.ComSetting;
        port.Status = PortStatusText(entry.Kind, port.Connected, port.Peer, 0,
                                     serial != nullptr ? serial->CommPort() : 0);
        break;
      }
      case PortKind::NotUsed:
        break;
    }
    port.Totals = input.Totals();
    if (port.Totals.BytesReceived > 0) {
      port.RxBytes =
          std::to_string(ShownByteCount(port.Totals.BytesReceived, port.Totals.RxShownFrom));
    }
    port.PollFailTimeout = entry.PollFailTimeout;
    port.Failed = input.Failed();
    snapshot.Ports.push_back(std::move(port));
  }

  snapshot.TheWatchDog.TagName = state.General.WatchDogTagName;
  snapshot.TheWatchDog.IntervalSeconds = state.General.WatchDogInterval;
  snapshot.TheWatchDog.SecondsSinceLast = link.WatchDogSeconds();
  return snapshot;
}

StatusSnapshot TakeStatusSnapshot(const StatusSources& sources, const StatusStart& start,
                                  const LocalTime& now, std::vector<std::string> logLines) {
  StatusSnapshot snapshot = TakeStatusSnapshot(sources);
  snapshot.StartedAt = start.At;
  snapshot.StartedAtEpochSeconds = start.EpochSeconds;
  snapshot.Now = now;
  snapshot.LogLines = std::move(logLines);
  return snapshot;
}

}  // namespace tarvel
