#include <algorithm>

#include "app/GatewayFixture.h"
#include "app/StatusSnapshot.h"

namespace tarvel {
namespace {

class StatusSnapshotTest : public GatewayFixture {
 protected:
  StatusSnapshot Snapshot() { return TakeStatusSnapshot(gateway.Sources()); }
};

// Each kind of port names its peer its own way: a server port the address that connected, a
// client port the host it calls (connected or not), a serial port its settings. The received
// count shows from the first byte; a port shows failed once its silence reaches PollFailTimeout
// (here the shortest one).
TEST_F(StatusSnapshotTest, PortsShowTheirPeerAndConnectionByKind) {
  UsePort(0, PortKind::TcpServer, "Door");
  listeners[0]->Listen();
  listeners[0]->RequestConnection("10.0.0.1", 4000);
  UsePort(1, PortKind::TcpServer, "Hall").PollFailTimeout = 1;
  UsePort(2, PortKind::TcpClient, "Panel");
  dataSockets[2]->SetRemoteHost("panel.local");
  dataSockets[2]->SetRemotePort(4002);
  UsePort(3, PortKind::Serial, "Fire").ComSetting = "COM2,9600,N,8,1";
  ConnectOstrel("10.0.0.9", 5000);
  Receive(0, "\n");
  timer.Ticks(10);

  const StatusSnapshot snapshot = Snapshot();
  const struct Row {
    int number;
    bool connected;
    const char* peer;
    const char* rxBytes;
    bool failed;
  } rows[] = {{0, true, "10.0.0.1:4000", "1", false},
              {1, false, "", "", true},
              {2, false, "panel.local:4002", "", false},
              {3, true, "COM2,9600,N,8,1", "", false}};
  ASSERT_EQ(snapshot.Ports.size(), std::size(rows));
  for (size_t n = 0; n < std::size(rows); ++n) {
    const StatusSnapshot::Port& port = snapshot.Ports[n];
    SCOPED_TRACE(rows[n].number);
    EXPECT_EQ(port.Number, rows[n].number);
    EXPECT_EQ(port.Connected, rows[n].connected);
    EXPECT_EQ(port.Peer, rows[n].peer);
    EXPECT_EQ(port.RxBytes, rows[n].rxBytes);
    EXPECT_EQ(port.Failed, rows[n].failed);
  }
  EXPECT_TRUE(snapshot.TheOstrel.Connected);
  EXPECT_EQ(snapshot.TheOstrel.Peer, "10.0.0.9:5000");
}

// Attempts every ReconnectInterval seconds (each closing first), none while connected, and again
// once the peer closes. The next attempt that the page shows is the one the tick makes: at every
// second, before a connection and after it closed, the snapshot names the second in which Connect
// is next called; while connected it names none.
TEST_F(StatusSnapshotTest, NextAttemptIsTheTicksReconnectSchedule) {
  state.General.ReconnectInterval = 5;
  UsePort(3, PortKind::TcpClient, "Panel");
  FakeSocketControl& data = *dataSockets[3];
  std::vector<std::pair<int, int>> predicted;  // second, the second of the attempt it names
  std::vector<int> attempts;
  for (int second = 0; second < 30; ++second) {
    if (second == 8) data.FireConnect();
    if (second == 14) data.FireClose();
    const std::optional<int32_t> next = Snapshot().Ports.at(0).NextAttemptSeconds;
    EXPECT_EQ(next.has_value(), second < 8 || second >= 14) << "second " << second;
    if (next) predicted.emplace_back(second, second + *next);
    const int before = data.ConnectCalls;
    timer.Ticks(10);
    if (data.ConnectCalls != before) attempts.push_back(second + 1);
  }
  EXPECT_EQ(attempts, (std::vector<int>{1, 6, 19, 24, 29}));
  EXPECT_EQ(data.CloseCalls, 6);  // each attempt closes first, and so did the close event
  for (const auto& [second, attempt] : predicted) {
    if (second < 8 && attempt > 8) continue;  // the connection at second 8 came first
    const auto due = std::upper_bound(attempts.begin(), attempts.end(), second);
    if (due != attempts.end()) {
      EXPECT_EQ(attempt, *due) << "second " << second;
    }
  }
}

}  // namespace
}  // namespace tarvel
