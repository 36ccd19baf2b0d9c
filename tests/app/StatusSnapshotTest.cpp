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
      TakeStatusSnapshot(state, controls, gateway->Kept(), StatusStart{}, clock.Now(), {});
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

}  // namespace
}  // namespace tarvel
