#include <algorithm>

#include "app/GatewayFixture.h"
#include "support/SingleLineMessage.h"

namespace tarvel {
namespace {

const std::string Alarm = Message("ALARM") + "\r\n";

class TcpPortTest : public GatewayFixture {
 protected:
  TcpPortTest() {
    UsePort(2, PortKind::TcpServer, "Server");
    listeners[2]->SetLocalPort(4001);
    listeners[2]->Listen();
    PortEntry& client = UsePort(3, PortKind::TcpClient, "Client");
    client.RemoteAddress = "panel.local:4002";
    dataSockets[3]->SetRemoteHost("panel.local");
    dataSockets[3]->SetRemotePort(4002);
    ConnectOstrel();
    Sent();
  }
  std::vector<std::string> PortLogs() {
    std::vector<std::string> messages = LogMessages();
    std::erase_if(messages, [](const std::string& m) {
      return !m.starts_with("Connection (") &&
             m.find(" more connection events on port (") == std::string::npos;
    });
    return messages;
  }
};

// A server port takes one allowed peer at a time: a host outside the allow list, or a second
// peer, is refused and the connected one stays. Once the peer closes (leaving over-long text
// behind) the port waits again, also after an acceptance that failed.
TEST_F(TcpPortTest, ServerPortAcceptsOneAllowedPeerAndWaitsAgainAfterItCloses) {
  gateway.PortSettings(2).AllowedHosts = Hosts("10.1.1.0/29");
  gateway.ShowStatus();
  listeners[2]->RequestConnection("10.1.1.9", 3000);
  EXPECT_EQ(dataSockets[2]->State(), SocketControl::Closed);
  EXPECT_EQ(RowText(2, ConnectionListView::StatusColumn), "Waiting for connection at port 4001");
  listeners[2]->RequestConnection("10.1.1.1", 3333);
  EXPECT_EQ(RowText(2, ConnectionListView::StatusColumn), "Connected to 10.1.1.1:3333");
  dataSockets[2]->Receive(Alarm.substr(0, 13));
  listeners[2]->RequestConnection("10.1.1.9", 3001);  // not logged: refused within the minute
  listeners[2]->RequestConnection("10.1.1.2", 4444);  // allowed, but the port is taken
  EXPECT_EQ(dataSockets[2]->State(), SocketControl::Connected);
  EXPECT_EQ(dataSockets[2]->RemoteHostIP(), "10.1.1.1");
  dataSockets[2]->Receive(Alarm.substr(13));
  EXPECT_EQ(Sent(), AlarmLine);
  dataSockets[2]->Receive(std::string(40000, 'B'));  // over-long: the next peer is not skipped
  dataSockets[2]->FireClose();
  EXPECT_EQ(dataSockets[2]->State(), SocketControl::Closed);
  EXPECT_EQ(RowText(2, ConnectionListView::StatusColumn), "Waiting for connection at port 4001");
  dataSockets[2]->FailNextAccept(10022, "Invalid argument");
  listeners[2]->RequestConnection("10.1.1.4", 3335);
  listeners[2]->RequestConnection("10.1.1.5", 3334);
  dataSockets[2]->Receive(Alarm);
  EXPECT_EQ(Sent(), AlarmLine);
  UsePort(4, PortKind::TcpServer, "Other");  // the limiter counts per port and address
  gateway.PortSettings(4).AllowedHosts = Hosts("::1");
  listeners[4]->RequestConnection("10.1.1.9", 3000);
  EXPECT_EQ(
      PortLogs(),
      (std::vector<std::string>{
          "Connection (2) refused from 10.1.1.9:3000", "Connection (2) accepted from 10.1.1.1:3333",
          "Connection (2) refused from 10.1.1.2:4444", "Connection (2) was closed",
          "Connection (2) failed (Invalid argument) accepting 10.1.1.4:3335",
          "Connection (2) accepted from 10.1.1.5:3334",
          "Connection (4) refused from 10.1.1.9:3000"}));
}

TEST_F(TcpPortTest, ClientPortConnectsAndFails) {
  gateway.ShowStatus();
  EXPECT_EQ(RowText(3, ConnectionListView::StatusColumn), "Disconnected from panel.local:4002");
  dataSockets[3]->FireConnect();
  EXPECT_EQ(RowText(3, ConnectionListView::StatusColumn), "Connected to panel.local:4002");
  dataSockets[3]->Receive("ALARM 07-06");
  dataSockets[3]->FireError("Connection refused");
  EXPECT_EQ(dataSockets[3]->State(), SocketControl::Closed);
  EXPECT_EQ(RowText(3, ConnectionListView::StatusColumn), "Disconnected from panel.local:4002");
  // The unfinished text of the broken connection is not joined to the new connection's first
  // line: that would make one false event of two.
  dataSockets[3]->FireConnect();
  dataSockets[3]->Receive(Alarm);
  EXPECT_EQ(Sent(), AlarmLine);
  EXPECT_EQ(PortLogs(),
            (std::vector<std::string>{
                "Connection (3) was established to panel.local:4002",
                "Connection (3) failed (Connection refused) connecting to panel.local:4002",
                "Connection (3) was established to panel.local:4002"}));
}

// A peer connecting and closing in a loop is logged like a flood of rejected lines: per port at
// most 10 lines a second and 60 a minute, then, once the port is quiet, one line with the count.
TEST_F(TcpPortTest, ConnectionChurnIsLimitedPerPortThenCounted) {
  std::vector<std::string> expected;
  for (int second = 0; second < 11; ++second) {
    clock.Set(2017, 6, 7, 12, 0, second);
    for (int i = 0; i < (second < 8 ? 100 : 0); ++i) {
      listeners[2]->RequestConnection("10.1.1.1", 3333);
      dataSockets[2]->FireClose();
      if (i < 5 && second < 6) {
        expected.push_back("Connection (2) accepted from 10.1.1.1:3333");
        expected.push_back("Connection (2) was closed");
      }
    }
    if (second == 0) {
      dataSockets[3]->FireConnect();  // another port, its own limit
      expected.push_back("Connection (3) was established to panel.local:4002");
    }
    gateway.TimerUpdateTimer();
  }
  expected.push_back("1540 more connection events on port (2) since 17-06-07 12:00:00");
  EXPECT_EQ(PortLogs(), expected);
}

}  // namespace
}  // namespace tarvel
