#include <string>

#include "app/GatewayFixture.h"
#include "output/OstrelConnection.h"

namespace tarvel {
namespace {

class EventReportTest : public GatewayFixture {
 protected:
  EventReportTest() {
    UsePort(2, PortKind::TcpServer, "Panel 2");
    UsePort(5, PortKind::TcpServer, "Panel 5");
    ConnectOstrel();
  }
};

// A collected event goes out on the eleventh tick; text lines without a header are dropped then.
TEST_F(EventReportTest, CollectedEventIsSentOnTheEleventhTick) {
  struct Row {
    const char* name;
    std::string received;
    std::string sent;
  };
  const Row rows[] = {
      {"stamp in the header", "NACK ALARM 12-JAN-17 10:20:30 Fire detector\nHall 2\n",
       "1|2017-01-12|10:20:30|NACK ALARM Fire detector||||Hall 2\n"},
      {"stamp in a text line wins",
       "NACK NORMAL 12-JAN-17 10:20:30 Fire detector\nHall 2 13-FEB-18 11:22:33 east\n",
       "0|2018-02-13|11:22:33|NACK NORMAL Fire detector||||Hall 2 east\n"},
      {"no stamp: the flush time", "ACK NORMAL Zone 4\n",
       "0|2017-06-07|12:34:56|ACK NORMAL Zone 4||||\n"},
      {"three text lines kept", "ACK ALARM Zone 4\nline 1\n\nline 2\nline 3\nline 4\nline 5\n",
       "1|2017-06-07|12:34:56|ACK ALARM Zone 4||||line 1 line 2 line 3\n"},
      {"text lines without a header are dropped", "late text\nALARM 07-06-2017 10:20:30 ZONE\n",
       ""},
      {"a second word makes an event", "text ALARM at index 0\n",
       "1|2017-06-07|12:34:56|text ALARM at index 0||||\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    clock.Set(2017, 6, 7, 12, 34, 0);
    Receive(2, row.received);
    timer.Ticks(10);  // 1000 ms is not yet more than a second
    EXPECT_EQ(Sent(), "");
    clock.Set(2017, 6, 7, 12, 34, 56);
    timer.Tick();
    EXPECT_EQ(Sent(), row.sent);
  }
}

// The next header sends a port's pending event at its arrival time; other ports keep theirs.
TEST_F(EventReportTest, NextHeaderSendsThePendingEventAtItsArrivalTime) {
  Receive(5, "ACK ALARM Zone 5\n");
  Receive(2, "ACK ALARM Zone 2\n");
  timer.Ticks(5);
  clock.Set(2017, 6, 7, 12, 35, 1);
  Receive(2, "ACK NORMAL Zone 2\n");
  EXPECT_EQ(Sent(), "1|2017-06-07|12:35:01|ACK ALARM Zone 2||||\n");
  timer.Ticks(6);
  EXPECT_EQ(Sent(), "1|2017-06-07|12:35:01|ACK ALARM Zone 5||||\n");
  timer.Ticks(4);
  EXPECT_EQ(Sent(), "");
  timer.Tick();
  EXPECT_EQ(Sent(), "0|2017-06-07|12:35:01|ACK NORMAL Zone 2||||\n");
}

// Kept lines go out at the first tick after the connection, or ahead of the first newer line.
// A large backlog goes at the alarm server's pace: while it is behind (the input ports are
// held) the rest waits, and goes on once the queue runs low, never dropped for an overflow.
TEST_F(EventReportTest, KeptLinesGoOutInOrderAheadOfNewerOnesAtTheAlarmServersPace) {
  const auto send = [this](const std::string& tag, const std::string& text) {
    Receive(2,
            "ALARM 07-06-2017 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + text + "\n");
    return "1|2017-06-07|10:20:30|" + tag + "||||" + text + "\n";  // the line it becomes
  };
  ostrelData.FireClose();
  state.General.KeepLimit = 1 << 30;
  std::string kept;
  for (int n = 0; kept.size() < 3 * OstrelConnection::KeptPieceBytes; ++n) {
    kept += send("T" + std::to_string(n), std::string(8000, 't'));
  }
  timer.Ticks(3);
  ConnectOstrel();
  EXPECT_EQ(Sent(), "");
  ostrelData.SetBacklog(SocketControl::SendHighWater + 1);
  timer.Tick();
  std::string sent = Sent();
  EXPECT_GT(sent.size(), 0u);
  EXPECT_LE(sent.size(), OstrelConnection::KeptPieceBytes);  // one piece, then it is behind
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

}  // namespace
}  // namespace tarvel
