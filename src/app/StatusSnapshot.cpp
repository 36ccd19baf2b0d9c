#include "app/StatusSnapshot.h"

#include <algorithm>

#include "app/Version.h"
#include "output/ConnectionDisplay.h"
#include "output/SupervisionTimer.h"

namespace tarvel {
namespace {

// Catches the texts ConnectionDisplay writes, so the page shows exactly what the main window
// would.
class TextCatcher : public ConnectionListView, public StatusBarView {
 public:
  int AddRow(const std::string&) override { return 0; }
  void SetSubItem(int, int, const std::string& text) override { Text = text; }
  void SetPanelText(int, const std::string& text) override { Text = text; }
  std::string Text;
};

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

StatusSnapshot TakeStatusSnapshot(const ProgramState& state, const Controls& controls,
                                  const KeptLines& kept, const StatusStart& start,
                                  const LocalTime& now, std::vector<std::string> logLines) {
  StatusSnapshot snapshot;
  snapshot.Version = ProgramVersion;
  snapshot.StartedAt = start.At;
  snapshot.StartedAtEpochSeconds = start.EpochSeconds;
  snapshot.Now = now;
  snapshot.Ticks = state.Statistics.Ticks;
  snapshot.LogLines = std::move(logLines);

  TextCatcher catcher;
  ConnectionDisplay display(state, controls, catcher, catcher);

  StatusSnapshot::Ostrel& ostrel = snapshot.TheOstrel;
  display.ShowOstrelConnectionState();
  ostrel.State = catcher.Text;
  const SocketControl* listener = controls.WinsockOstrelConnect;
  const SocketControl* data = controls.WinsockOstrelData;
  ostrel.Listening = listener != nullptr && listener->State() == SocketControl::Listening;
  ostrel.Port = state.General.OstrelPort;
  ostrel.Connected = IsConnected(data);
  if (ostrel.Connected)
    ostrel.Peer = data->RemoteHostIP() + ":" + std::to_string(data->RemotePort());
  ostrel.Totals = state.Statistics.Ostrel;
  ostrel.Keeping = state.General.BufferIfOstrelNotConnected;
  ostrel.KeptLines = kept.Lines();
  ostrel.KeptBytes = kept.Bytes();
  ostrel.KeptLimitBytes = kept.Limit();

  for (int16_t n = 0; n < PortCount; ++n) {
    const PortEntry& entry = state.Ports[n];
    if (entry.Kind == PortKind::NotUsed) continue;
    StatusSnapshot::Port port;
    port.Number = n;
    port.Description = entry.Description;
    port.Kind = entry.Kind;
    catcher.Text.clear();
    display.ShowTCPConnectionState(n);
    port.Status = catcher.Text;
    const SocketControl* socket = controls.WinsockData[n];
    switch (entry.Kind) {
      case PortKind::TcpServer:
        port.Connected = IsConnected(socket);
        if (port.Connected)
          port.Peer = socket->RemoteHostIP() + ":" + std::to_string(socket->RemotePort());
        break;
      case PortKind::TcpClient:
        port.Connected = IsConnected(socket);
        if (socket == nullptr) break;
        port.Peer = socket->RemoteHost() + ":" + std::to_string(socket->RemotePort());
        if (!port.Connected) port.NextAttemptSeconds = StepsUntilReconnect(state.Activity[n]);
        break;
      case PortKind::Serial:
        port.Connected = true;  // a serial port in use was opened at start-up
        port.Peer = entry.ComSetting;
        break;
      case PortKind::NotUsed:
        break;
    }
    port.Totals = state.Statistics.Ports[n];
    port.PollFailTimeout = entry.PollFailTimeout;
    port.Failed =
        entry.PollFailTimeout > 0 && state.Activity[n].SilenceSeconds >= entry.PollFailTimeout;
    snapshot.Ports.push_back(std::move(port));
  }

  snapshot.TheWatchDog.TagName = state.General.WatchDogTagName;
  snapshot.TheWatchDog.IntervalSeconds = state.General.WatchDogInterval;
  snapshot.TheWatchDog.SecondsSinceLast = state.WatchDogSeconds;
  return snapshot;
}

}  // namespace tarvel
