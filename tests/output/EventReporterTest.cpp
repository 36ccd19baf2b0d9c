#include <string>

#include "app/GatewayFixture.h"
#include "output/AlarmServerLink.h"

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

// Each port collects its own multi-line events, sent at the next header or the eleventh tick.
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

}  // namespace
}  // namespace tarvel
