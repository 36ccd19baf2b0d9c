#include "app/GatewayFixture.h"
#include "output/AlarmServerLink.h"
#include "support/SingleLineMessage.h"

namespace tarvel {
namespace {

class AlarmServerLinkTest : public GatewayFixture {
 protected:
  AlarmServerLinkTest() {
    UsePort(0, PortKind::Serial, "Panel");
    state.General.WatchDogTagName = "WD";
    state.General.WatchDogInterval = 1;
  }
  std::string ConnectionPanel() const {
    return statusBar.PanelText(StatusBarView::ConnectionPanel);
  }
  std::string CounterPanel() const { return statusBar.PanelText(StatusBarView::CounterPanel); }
};

// An alarm message on an input port, and the event line it becomes.
std::string Alarm(const std::string& tag = "ZONE-12-DOOR",
                  const std::string& text = "Door forced open") {
  return Message("ALARM", "07-06-2017", tag, text) + "\n";
}
std::string Line(const std::string& tag = "ZONE-12-DOOR",
                 const std::string& text = "Door forced open") {
  return "1|2017-06-07|10:20:30|" + tag + "||||" + text + "\n";
}

TEST_F(AlarmServerLinkTest, HostOutsideTheAllowListIsRefusedAndTheServerKeepsItsConnection) {
  state.General.OstrelAllowedHosts = Hosts("10.0.0.0/24, 2001:db8::1");
  ConnectOstrel("10.0.0.1", 5001);
  for (int n = 0; n < 50; ++n) ConnectOstrel("10.0.1.1", 6000 + n);  // logged once: the limiter
  EXPECT_EQ(ConnectionPanel(), "Connected to Ostrel 10.0.0.1:5001");
  timer.Ticks(10);
  EXPECT_EQ(Sent(), "1|||WD\n") << "the connected alarm server still gets its lines";

  ConnectOstrel("2001:db8::1", 5003);  // an allowed second alarm server replaces the first
  EXPECT_EQ(ConnectionPanel(), "Connected to Ostrel 2001:db8::1:5003");
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
    ASSERT_EQ(ConnectionPanel(), "Connected to Ostrel 10.0.0.9:5000");
    closed ? ostrelData.FireClose() : ostrelData.FireError("Connection reset by peer");
    EXPECT_EQ(ostrelData.State(), SocketControl::Closed);
    EXPECT_EQ(ConnectionPanel(), "Waiting for Ostrel connection at port 14000");
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
  EXPECT_EQ(ConnectionPanel(), "Warning! Ostrel connections at port 14000 is disabled!");
}

// Only text that goes out is counted and traced, lines by their line feeds also when kept lines
// go out as one piece; the counts show on the tick.
TEST_F(AlarmServerLinkTest, CountersTraceAndStatusText) {
  state.General.BufferIfOstrelNotConnected = true;
  Receive(0, Alarm() + Alarm() + Alarm());  // kept while no alarm server is connected
  menus.SetDebugChecked(true);
  timer.Ticks(30);
  EXPECT_EQ(debugList.ListCount(), 0);
  EXPECT_EQ(CounterPanel(), "");
  ConnectOstrel();
  timer.Ticks(10);
  EXPECT_EQ(Sent(), Line() + Line() + Line() + "1|||WD\n");
  EXPECT_EQ(LinkTotals().LinesSent, 4u);
  const std::string last = debugList.Item(debugList.ListCount() - 1);
  EXPECT_TRUE(last.ends_with(" Tx -> Ostrel: 1|||WD<10>")) << last;
  EXPECT_EQ(CounterPanel(), "Ostrel TxBytes:172, RxBytes:0");
  ostrelData.Receive("ack\r\n");
  EXPECT_EQ(CounterPanel(), "Ostrel TxBytes:172, RxBytes:0");
  timer.Ticks(1);  // the text is made once per tick
  EXPECT_EQ(CounterPanel(), "Ostrel TxBytes:172, RxBytes:5");
}

// Kept lines go out at the first tick after the connection, or ahead of the first newer line.
// A large backlog goes at the alarm server's pace: while it is behind (the input ports are
// held) the rest waits, and goes on once the queue runs low, never dropped for an overflow.
TEST_F(AlarmServerLinkTest, KeptLinesGoOutInOrderAheadOfNewerOnesAtTheAlarmServersPace) {
  state.General.WatchDogInterval = 0;
  state.General.KeepLimit = 1 << 30;
  std::string kept;
  for (int n = 0; kept.size() < 3 * AlarmServerLink::KeptPieceBytes; ++n) {
    const std::string tag = "T" + std::to_string(n), text(8000, 't');
    Receive(0, Alarm(tag, text));
    kept += Line(tag, text);
  }
  timer.Ticks(3);
  ConnectOstrel();
  EXPECT_EQ(Sent(), "");
  ostrelData.Backlog = SocketControl::SendHighWater + 1;
  timer.Tick();
  std::string sent = Sent();
  EXPECT_GT(sent.size(), 0u);
  EXPECT_LE(sent.size(), AlarmServerLink::KeptPieceBytes);  // one piece, then it is behind
  timer.Ticks(5);
  EXPECT_EQ(Sent(), "");
  ostrelData.FireSendQueueLow();
  EXPECT_EQ(sent + Sent(), kept);

  ostrelData.FireClose();
  Receive(0, Alarm("KEPT"));
  ConnectOstrel();
  Receive(0, Alarm("NEW"));
  EXPECT_EQ(Sent(), Line("KEPT") + Line("NEW"));
  timer.Tick();
  EXPECT_EQ(Sent(), "");
}

// A backlog above the high-water mark pauses every TCP input port until the queue runs low; a
// connection that ends with lines unsent puts them in front of the lines kept since.
TEST_F(AlarmServerLinkTest, BacklogPausesInputAndUnsentLinesGoBackInFront) {
  ConnectOstrel();
  ostrelData.Backlog = SocketControl::SendHighWater + 1;
  timer.Ticks(10);
  for (FakeSocketControl* data : dataSockets) EXPECT_TRUE(data->Paused);
  ostrelData.FireSendQueueLow();
  for (FakeSocketControl* data : dataSockets) EXPECT_FALSE(data->Paused);
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep);
    state.General.BufferIfOstrelNotConnected = keep;
    ConnectOstrel();
    ostrelData.Backlog = SocketControl::SendHighWater + 1;
    timer.Ticks(10);
    Sent();
    Receive(0, Alarm("A") + Alarm("B"));
    const std::string unsent = Sent();
    ostrelData.Unsent = unsent;
    ostrelData.FireError("Peer took nothing for 60 s");
    EXPECT_FALSE(dataSockets[3]->Paused);
    EXPECT_EQ(ostrelData.State(), SocketControl::Closed);
    const std::vector<std::string> logs = LogMessages();
    EXPECT_EQ(logs.at(logs.size() - 2),
              keep ? "Ostrel connection: 2 lines not sent, kept for the next alarm server"
                   : "Ostrel connection: 2 lines not sent, dropped");
    EXPECT_EQ(logs.back(), "Ostrel connection failed (Peer took nothing for 60 s)");
    Receive(0, Alarm());
    ConnectOstrel();
    timer.Tick();
    EXPECT_EQ(Sent(), keep ? unsent + Line() : "");
  }
}

// A connection that ends with lines unsent: what the system took is not sent again; the kept
// lines it had not taken go first, then the connection's other lines, then the lines kept while
// the connection was going (they are newer).
TEST_F(AlarmServerLinkTest, UnsentLinesGoOutAgainAheadOfLinesKeptWhileTheConnectionWent) {
  Receive(0, Alarm("K1") + Alarm("K2") + Alarm("K3"));  // kept: no alarm server
  ConnectOstrel();
  timer.Tick();
  ASSERT_EQ(Sent(), Line("K1") + Line("K2") + Line("K3"));
  ostrelData.FireLinesWritten(Line("K1").size());
  Receive(0, Alarm("L1"));  // nothing kept waits: sent at once
  ASSERT_EQ(Sent(), Line("L1"));
  ostrelData.SetState(SocketControl::Closing);  // the peer went; its Close event is on its way
  Receive(0, Alarm("N1"));
  ostrelData.Unsent = Line("K2") + Line("K3") + Line("L1");
  ostrelData.FireClose();
  ConnectOstrel();
  timer.Tick();
  EXPECT_EQ(Sent(), Line("K2") + Line("K3") + Line("L1") + Line("N1"));
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
// most once a minute, and the line goes out all the same, also in a piece of kept lines.
TEST_F(AlarmServerLinkTest, AFaultInTheTraceCostsNoLine) {
  const std::string fault =
      "Unexpected fault in the display of the Ostrel connection: debug list failed; the gateway "
      "goes on";
  state.General.BufferIfOstrelNotConnected = true;
  menus.SetDebugChecked(true);
  ConnectOstrel();
  for (int n = 0; n < 2; ++n) {  // the second within the minute is only counted
    debugList.FailNext();
    timer.Ticks(10);
    EXPECT_EQ(Sent(), "1|||WD\n");
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{"Accepted Ostrel connection from 10.0.0.9:5000", fault}));
  }
  ostrelData.FireClose();
  Receive(0, Alarm());
  ConnectOstrel();
  clock.Set(2017, 6, 7, 12, 36, 0);
  debugList.FailNext();
  timer.Tick();
  EXPECT_EQ(Sent(), Line());
  EXPECT_EQ(LogMessages().back(), fault + " (1 more faults since the last report)");
}

}  // namespace
}  // namespace tarvel
