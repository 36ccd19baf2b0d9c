#include <string>
#include <vector>

#include "app/GatewayFixture.h"
#include "output/AlarmServerLink.h"

namespace tarvel {
namespace {

class AlarmServerLinkTest : public GatewayFixture {
 protected:
  AlarmServerLinkTest() {
    UsePort(0, PortKind::Serial, "Panel");
    state.General.WatchDogTagName = "WD";
    state.General.WatchDogInterval = 1;
  }
};

TEST_F(AlarmServerLinkTest, HostOutsideTheAllowListIsRefusedAndTheServerKeepsItsConnection) {
  state.General.OstrelAllowedHosts = Hosts("10.0.0.0/24, 2001:db8::1");
  ConnectOstrel("10.0.0.1", 5001);
  for (int n = 0; n < 50; ++n) ConnectOstrel("10.0.1.1", 6000 + n);  // logged once: the limiter
  EXPECT_EQ(ostrelData.RemoteHostIP(), "10.0.0.1");
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Connected to Ostrel 10.0.0.1:5001");
  timer.Ticks(10);
  EXPECT_EQ(Sent(), "1|||WD\n") << "the connected alarm server still gets its lines";

  ConnectOstrel("2001:db8::1", 5003);  // an allowed second alarm server replaces the first
  EXPECT_EQ(ostrelData.RemoteHostIP(), "2001:db8::1");
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Connected to Ostrel 2001:db8::1:5003");
  EXPECT_EQ(LinkTotals().RefusedConnections, 50u) << "each refusal counts, logged or not";
  EXPECT_EQ(LinkTotals().Connections, 2u);
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"Accepted Ostrel connection from 10.0.0.1:5001",
                                      "Refused Ostrel connection from 10.0.1.1:6000",
                                      "Accepted Ostrel connection from 2001:db8::1:5003"}));
}

// A close or an error, and an acceptance that fails in the words of a socket error, leave the
// listener waiting; a listener that is not listening shows the warning.
TEST_F(AlarmServerLinkTest, CloseFailedAcceptAndAListenerNotListeningAreShown) {
  for (const bool closed : {true, false}) {
    ConnectOstrel();
    ASSERT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
              "Connected to Ostrel 10.0.0.9:5000");
    closed ? ostrelData.FireClose() : ostrelData.FireError("Connection reset by peer");
    EXPECT_EQ(ostrelData.State(), SocketControl::Closed);
    EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
              "Waiting for Ostrel connection at port 14000")
        << (closed ? "close" : "error");
    EXPECT_EQ(LogMessages().back(), closed ? "Ostrel connection was closed"
                                           : "Ostrel connection failed (Connection reset by peer)");
  }
  FakeNetwork otherNetwork;  // the request is not found there
  FakeSocketControl data(&otherNetwork);
  controls.WinsockOstrelData = &data;
  ConnectOstrel();
  EXPECT_EQ(LogMessages().back(), "Ostrel connection failed (Invalid argument)");
  controls.WinsockOstrelData = &ostrelData;
  ostrelListener.Close();
  ConnectOstrel();
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Warning! Ostrel connections at port 14000 is disabled!");
}

// Only text that goes out is counted and traced; the counts show on the tick.
TEST_F(AlarmServerLinkTest, CountersAndStatusText) {
  menus.SetDebugChecked(true);
  timer.Ticks(30);
  EXPECT_EQ(LinkTotals().BytesSent, 0u);
  EXPECT_EQ(debugList.ListCount(), 0);
  EXPECT_EQ(statusBar.PanelText(StatusBarView::CounterPanel), "");
  ConnectOstrel();
  timer.Ticks(10);  // the 7-character watchdog line
  EXPECT_EQ(Sent(), "1|||WD\n");
  ASSERT_EQ(debugList.ListCount(), 1);
  EXPECT_TRUE(debugList.Item(0).ends_with(" Tx -> Ostrel: 1|||WD<10>")) << debugList.Item(0);
  EXPECT_EQ(statusBar.PanelText(StatusBarView::CounterPanel), "Ostrel TxBytes:7, RxBytes:0")
      << "what went out is shown";
  ostrelData.Receive("ack\r\n");
  EXPECT_EQ(statusBar.PanelText(StatusBarView::CounterPanel), "Ostrel TxBytes:7, RxBytes:0");
  timer.Ticks(1);  // the text is made once per tick
  EXPECT_EQ(statusBar.PanelText(StatusBarView::CounterPanel), "Ostrel TxBytes:7, RxBytes:5");
}

// Lines are counted by their line feeds, also when kept lines go out as one piece.
TEST_F(AlarmServerLinkTest, TotalsCountSentLinesNotBytes) {
  state.General.BufferIfOstrelNotConnected = true;
  const std::string event = "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n";
  for (int n = 0; n < 3; ++n)  // kept while no alarm server is connected
    Receive(0, "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\n");
  ConnectOstrel();
  timer.Tick();
  EXPECT_EQ(Sent(), event + event + event);
  EXPECT_EQ(LinkTotals().LinesSent, 3u);
  EXPECT_EQ(LinkTotals().BytesSent, 3 * event.size());
  timer.Ticks(10);
  EXPECT_EQ(Sent(), "1|||WD\n");
  EXPECT_EQ(LinkTotals().LinesSent, 4u);
}

// Kept lines go out at the first tick after the connection, or ahead of the first newer line.
// A large backlog goes at the alarm server's pace: while it is behind (the input ports are
// held) the rest waits, and goes on once the queue runs low, never dropped for an overflow.
TEST_F(AlarmServerLinkTest, KeptLinesGoOutInOrderAheadOfNewerOnesAtTheAlarmServersPace) {
  state.General.WatchDogInterval = 0;
  ConnectOstrel();
  const auto send = [this](const std::string& tag, const std::string& text) {
    Receive(0,
            "ALARM 07-06-2017 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + text + "\n");
    return "1|2017-06-07|10:20:30|" + tag + "||||" + text + "\n";  // the line it becomes
  };
  ostrelData.FireClose();
  state.General.KeepLimit = 1 << 30;
  std::string kept;
  for (int n = 0; kept.size() < 3 * AlarmServerLink::KeptPieceBytes; ++n) {
    kept += send("T" + std::to_string(n), std::string(8000, 't'));
  }
  timer.Ticks(3);
  ConnectOstrel();
  EXPECT_EQ(Sent(), "");
  ostrelData.SetBacklog(SocketControl::SendHighWater + 1);
  timer.Tick();
  std::string sent = Sent();
  EXPECT_GT(sent.size(), 0u);
  EXPECT_LE(sent.size(), AlarmServerLink::KeptPieceBytes);  // one piece, then it is behind
  timer.Ticks(5);
  EXPECT_EQ(Sent(), "");
  ostrelData.FireSendQueueLow();
  EXPECT_EQ(sent + Sent(), kept);

  ostrelData.FireClose();
  const std::string keptLine = send("KEPT", "Text");
  ConnectOstrel();
  const std::string newer = send("NEW", "Text");
  EXPECT_EQ(Sent(), keptLine + newer);
  timer.Tick();
  EXPECT_EQ(Sent(), "");
}

// A backlog above the high-water mark pauses every TCP input port until the queue runs low; a
// connection that ends with lines unsent puts them in front of the lines kept since.
TEST_F(AlarmServerLinkTest, BacklogPausesInputAndUnsentLinesGoBackInFront) {
  ConnectOstrel();
  ostrelData.SetBacklog(SocketControl::SendHighWater + 1);
  timer.Ticks(10);
  for (FakeSocketControl* data : dataSockets) EXPECT_TRUE(data->Paused());
  ostrelData.FireSendQueueLow();
  for (FakeSocketControl* data : dataSockets) EXPECT_FALSE(data->Paused());
  struct Row {
    bool keep;
    const char* log;
  };
  const std::string later = "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n";
  for (const Row& row : {Row{true, "2 lines not sent, kept for the next alarm server"},
                         Row{false, "2 lines not sent, dropped"}}) {
    SCOPED_TRACE(row.log);
    state.General.BufferIfOstrelNotConnected = row.keep;
    ConnectOstrel();
    ostrelData.SetBacklog(SocketControl::SendHighWater + 1);
    timer.Ticks(10);
    Sent();
    Receive(0,
            "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      a\nALARM 07-06-2017 10:20:31 ZONE-12-DOOR "
            "     b\n");
    const std::string unsent = Sent();
    ostrelData.LeaveUnsent(unsent);
    ostrelData.FireError("Peer took nothing for 60 s");
    EXPECT_FALSE(dataSockets[3]->Paused());
    EXPECT_EQ(ostrelData.State(), SocketControl::Closed);
    const std::vector<std::string> logs = LogMessages();
    EXPECT_EQ(logs.at(logs.size() - 2), std::string("Ostrel connection: ") + row.log);
    EXPECT_EQ(logs.back(), "Ostrel connection failed (Peer took nothing for 60 s)");
    Receive(0, "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\n");
    ConnectOstrel();
    timer.Tick();
    EXPECT_EQ(Sent(), row.keep ? unsent + later : "");
  }
}

// A connection that ends with lines unsent: what the system took is not sent again; the kept
// lines it had not taken go first, then the connection's other lines, then the lines kept while
// the connection was going (they are newer).
TEST_F(AlarmServerLinkTest, UnsentLinesGoOutAgainAheadOfLinesKeptWhileTheConnectionWent) {
  const auto message = [](const std::string& tag) {
    return "ALARM 07-06-2017 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + "x\n";
  };
  const auto line = [](const std::string& tag) {
    return "1|2017-06-07|10:20:30|" + tag + "||||x\n";
  };
  Receive(0, message("K1") + message("K2") + message("K3"));  // kept: no alarm server
  ConnectOstrel();
  timer.Tick();
  ASSERT_EQ(Sent(), line("K1") + line("K2") + line("K3"));
  ostrelData.FireLinesWritten(line("K1").size());
  Receive(0, message("L1"));  // nothing kept waits: sent at once
  ASSERT_EQ(Sent(), line("L1"));
  ostrelData.SetState(SocketControl::Closing);  // the peer went; its Close event is on its way
  Receive(0, message("N1"));
  ostrelData.LeaveUnsent(line("K2") + line("K3") + line("L1"));
  ostrelData.FireClose();
  ConnectOstrel();
  timer.Tick();
  EXPECT_EQ(Sent(), line("K2") + line("K3") + line("L1") + line("N1"));
}

// The watchdog line every WatchDogInterval seconds, on the tick that ends the second; none
// without a tag or an interval.
TEST_F(AlarmServerLinkTest, WatchDog) {
  struct Row {
    std::string tag;
    int32_t interval;
    int every;  // seconds between lines; 0: none
  };
  ConnectOstrel();
  for (const Row& row : {Row{"", 30, 0}, Row{"WD", 30, 30}, Row{"WD", 0, 0}, Row{"WD", 1, 1}}) {
    SCOPED_TRACE(row.tag + std::to_string(row.interval));
    state.General.WatchDogTagName = row.tag;
    state.General.WatchDogInterval = row.interval;
    for (int second = 1; second <= 60; ++second) {
      timer.Ticks(9);
      ASSERT_EQ(Sent(), "");
      timer.Tick();
      const bool due = row.every > 0 && second % row.every == 0;
      ASSERT_EQ(Sent(), due ? "1|||WD\n" : "") << "second " << second;
    }
  }
}

// The debug window never costs a line to the alarm server: a fault in its trace is logged, at
// most once a minute, and the line goes out all the same.
TEST_F(AlarmServerLinkTest, AFaultInTheTraceCostsNoLine) {
  const std::string fault =
      "Unexpected fault in the display of the Ostrel connection: debug list failed; the gateway "
      "goes on";
  state.General.BufferIfOstrelNotConnected = true;
  menus.SetDebugChecked(true);
  ConnectOstrel();
  debugList.FailNextAdd();
  timer.Ticks(10);
  EXPECT_EQ(Sent(), "1|||WD\n");
  EXPECT_EQ(LogMessages().back(), fault);
  debugList.FailNextAdd();
  timer.Ticks(10);
  EXPECT_EQ(Sent(), "1|||WD\n");
  EXPECT_EQ(LogMessages().back(), fault) << "the second within the minute is only counted";
  EXPECT_EQ(LogMessages().size(), 2u);

  ostrelData.FireClose();  // a kept line goes out the other way, in a piece of kept lines
  Receive(0, "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\n");
  ConnectOstrel();
  clock.Set(2017, 6, 7, 12, 36, 0);
  debugList.FailNextAdd();
  timer.Tick();
  EXPECT_EQ(Sent(), "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n");
  EXPECT_EQ(LogMessages().back(), fault + " (1 more faults since the last report)");
}

}  // namespace
}  // namespace tarvel
