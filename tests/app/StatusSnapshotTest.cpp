#include <algorithm>
#include <string>
#include <vector>

#include "app/GatewayFixture.h"
#include "app/StatusSnapshot.h"

namespace tarvel {
namespace {

using StatusSnapshotTest = GatewayFixture;

// Each kind of port names its peer its own way: a server port the address that connected, a
// client port the host it calls (connected or not), a serial port its settings.
TEST_F(StatusSnapshotTest, PortsShowTheirPeerAndConnectionByKind) {
  UsePort(0, PortKind::TcpServer, "Door");
  listeners[0]->Listen();
  listeners[0]->RequestConnection("10.0.0.1", 4000);
  UsePort(1, PortKind::TcpServer, "Hall");
  UsePort(2, PortKind::TcpClient, "Panel");
  dataSockets[2]->SetRemoteHost("panel.local");
  dataSockets[2]->SetRemotePort(4002);
  UsePort(3, PortKind::Serial, "Fire").ComSetting = "COM2,9600,N,8,1";
  ConnectOstrel("10.0.0.9", 5000);

  const StatusSnapshot snapshot =
      TakeStatusSnapshot(gateway.Sources(), StatusStart{}, clock.Now(), {});
  const struct Row {
    int number;
    bool connected;
    const char* peer;
  } rows[] = {{0, true, "10.0.0.1:4000"},
              {1, false, ""},
              {2, false, "panel.local:4002"},
              {3, true, "COM2,9600,N,8,1"}};
  ASSERT_EQ(snapshot.Ports.size(), std::size(rows));
  for (size_t n = 0; n < std::size(rows); ++n) {
    const StatusSnapshot::Port& port = snapshot.Ports[n];
    EXPECT_EQ(port.Number, rows[n].number);
    EXPECT_EQ(port.Connected, rows[n].connected) << "port " << rows[n].number;
    EXPECT_EQ(port.Peer, rows[n].peer) << "port " << rows[n].number;
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
    const StatusSnapshot snapshot =
        TakeStatusSnapshot(gateway.Sources(), StatusStart{}, clock.Now(), {});
    const std::optional<int32_t> next = snapshot.Ports.at(0).NextAttemptSeconds;
    EXPECT_EQ(next.has_value(), second < 8 || second >= 14) << "second " << second;
    if (next) predicted.emplace_back(second, second + *next);
    const int before = data.ConnectCalls();
    timer.Ticks(10);
    if (data.ConnectCalls() != before) attempts.push_back(second + 1);
  }
  EXPECT_EQ(attempts, (std::vector<int>{1, 6, 19, 24, 29}));
  EXPECT_EQ(data.CloseCalls(), 6);  // each attempt closes first, and so did the close event
  for (const auto& [second, attempt] : predicted) {
    if (second < 8 && attempt > 8) continue;  // the connection at second 8 came first
    const auto due = std::upper_bound(attempts.begin(), attempts.end(), second);
    if (due != attempts.end()) {
      EXPECT_EQ(attempt, *due) << "second " << second;
    }
  }
}

// A port shows failed once its silence reaches PollFailTimeout, the shortest one included; 0
// turns the supervision off.
TEST_F(StatusSnapshotTest, SilenceFailsAtTheTimeoutAndNeverWithoutOne) {
  const int32_t timeouts[] = {1, 2, 0};
  for (int port = 0; port < 3; ++port)
    UsePort(port, PortKind::TcpServer, "Door").PollFailTimeout = timeouts[port];
  const struct Row {
    int second;
    std::vector<bool> failed;  // of the ports with the timeouts above
  } rows[] = {{0, {false, false, false}},
              {1, {true, false, false}},
              {2, {true, true, false}},
              {5, {true, true, false}}};
  int now = 0;
  for (const Row& row : rows) {
    timer.Ticks(10 * (row.second - now));
    now = row.second;
    const StatusSnapshot snapshot =
        TakeStatusSnapshot(gateway.Sources(), StatusStart{}, clock.Now(), {});
    std::vector<bool> failed;
    for (const StatusSnapshot::Port& port : snapshot.Ports) failed.push_back(port.Failed);
    EXPECT_EQ(failed, row.failed) << "after " << row.second << " s";
  }
}

// The windows' counts are empty until the first byte, then show what a 16-bit count that
// restarts at 0 above 65535 would: an addition past the limit carries nothing over.
TEST_F(StatusSnapshotTest, WindowCountsShowFromTheFirstByte) {
  UsePort(0, PortKind::TcpServer, "Door");
  state.General.WatchDogTagName = "WD";
  state.General.WatchDogInterval = 1;
  StatusSnapshot status = TakeStatusSnapshot(gateway.Sources());
  EXPECT_EQ(status.Ports.at(0).RxBytes, "");
  EXPECT_EQ(status.TheOstrel.Counters, "");
  Receive(0, std::string(65530, 'x'));
  Receive(0, "0123456789");
  ConnectOstrel();
  timer.Ticks(10);  // one watchdog line of 7 bytes
  ostrelData.Receive(std::string(65535, 'a'));
  status = TakeStatusSnapshot(gateway.Sources());
  EXPECT_EQ(status.Ports.at(0).RxBytes, "0");
  EXPECT_EQ(status.TheOstrel.Counters, "Ostrel TxBytes:7, RxBytes:65535");
}

}  // namespace
}  // namespace tarvel
