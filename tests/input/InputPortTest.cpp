#include "app/GatewayFixture.h"
#include "input/LineFramer.h"
#include "support/SingleLineMessage.h"

namespace tarvel {
namespace {

const std::string Restored =
    "0|||Fire panel||||TARVEL80 Connection 'Fire panel' (0) has been restored\n";

class ReceivedDataTest : public GatewayFixture {
 protected:
  ReceivedDataTest() {
    UsePort(0, PortKind::TcpServer, "Fire panel");
    ConnectOstrel();
    std::filesystem::remove(state.ProgramPath + "LogFiles/20170607.Log");  // its "Accepted" line
  }
};

// The parsing itself is shown in tests/event; here what the port makes of it: events sent,
// rejected lines logged, national letters converted first.
TEST_F(ReceivedDataTest, SingleLineMessages) {
  struct Row {
    const char* name;
    std::string received, sent;
    std::vector<std::string> logs;
  };
  const std::string pad17(17, ' '), text182(182, 'x'), text31982(31982, 'x');
  const auto reset = [](const std::string& text) {
    return Message("RESET", "07-06-2017", "T", text) + "\n";
  };
  const std::vector<Row> rows = {
      // clang-format off
      {"complete, CR LF", Message("ALARM") + "\r\n", AlarmLine, {}},
      {"lone LF and LF CR", Message("ALARM") + "\n\r", AlarmLine, {}},
      {"short: no text", "ALARM 07-06-2017 10:20:30 SHORT\n", "", {"Invalid event type: SHORT"}},
      // The echo of a rejected line stops at 200 characters: 18 of tag, then the text.
      {"unknown type, 200 characters", reset(text182), "", {"Unknown event type: T" + pad17 + text182}},
      {"unknown type, 201 characters", reset(text182 + "y"), "",
       {"Unknown event type: T" + pad17 + text182 + " (1 more characters)"}},
      {"unknown type, 32000 characters", reset(text31982), "",
       {"Unknown event type: T" + pad17 + text182 + " (31800 more characters)"}},
      {"Swedish and DOS letters", Message("ALARM", "07-06-2017", "D[R-1", "L{s \x94ppen") + "\n",
       "1|2017-06-07|10:20:30|D\xC4R-1||||L\xE4s \xF6ppen\n", {}},
  };
  // clang-format on
  gateway.PortSettings(0).Swedish7BitASCII2ISOLatin1 = true;
  gateway.PortSettings(0).DOSASCII2ISOLatin1 = true;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(state.ProgramPath + "LogFiles/20170607.Log");
    Receive(0, row.received);
    EXPECT_EQ(Sent(), row.sent);
    EXPECT_EQ(LogMessages(), row.logs);
  }
}

// A line's own event goes out before the restore, which comes once the port failed at exactly
// PollFailTimeout of silence; the line starts the silence again.
TEST_F(ReceivedDataTest, RestoreEventFollowsTheLinesOwnEvent) {
  gateway.PortSettings(0).PollFailTimeout = 60;
  for (const int silentSeconds : {59, 60}) {
    SCOPED_TRACE(silentSeconds);
    const bool restored = silentSeconds == 60;
    Receive(0, "\n");  // the silence starts from here
    timer.Ticks(10 * silentSeconds);
    Sent();
    clock.Set(2018, 1, 1, 0, silentSeconds % 60, 0);  // a minute of the row's own
    Receive(0, Message("ALARM") + "\r\n");
    EXPECT_EQ(Sent(), restored ? AlarmLine + Restored : AlarmLine);
    const std::optional<LocalTime>& restoredAt = TotalsOf(0).RestoredAt;
    EXPECT_EQ(restoredAt && restoredAt->Minute == silentSeconds % 60, restored);
    timer.Ticks(10 * 59);
    EXPECT_EQ(Sent(), "");
  }
}

// A header line switches its port, and only its port, to the multi-line format, unless the port
// keeps the single-line one. Each port collects its own event, sent at the eleventh tick or at
// the port's next header, stamped with that header's arrival.
TEST_F(ReceivedDataTest, HeaderLineSwitchesThePortToTheMultiLineFormat) {
  gateway.PortSettings(1).ForceOldParsing = true;
  for (const int16_t port : {0, 1}) {
    Receive(port, "nack alarm 12-JAN-17 10:20:30 Fire detector\r\n");
    Receive(port, Message("ALARM") + "\r\n");  // on port 0 a text line of the pending event
  }
  EXPECT_EQ(Sent(), AlarmLine);
  Receive(2, "ACK ALARM Zone 2\n");
  timer.Ticks(5);
  clock.Set(2017, 6, 7, 12, 35, 1);
  Receive(2, "ACK NORMAL Zone 2\n");
  EXPECT_EQ(Sent(), "1|2017-06-07|12:35:01|ACK ALARM Zone 2||||\n");
  timer.Ticks(6);
  EXPECT_EQ(Sent(),
            "1|2017-01-12|10:20:30|nack alarm Fire detector||||ALARM 07-06-2017 10:20:30 "
            "ZONE-12-DOOR Door forced open\n");
  timer.Ticks(4);
  EXPECT_EQ(Sent(), "");
  timer.Tick();
  EXPECT_EQ(Sent(), "0|2017-06-07|12:35:01|ACK NORMAL Zone 2||||\n");
  Receive(5, Message("ALARM") + "\r\n");
  EXPECT_EQ(Sent(), AlarmLine);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Unknown event type: 20:30 Fire detector"});
}

// The same bytes in one reception or cut into several give the same outcome: the limit counts
// the line after CR and FF removal and trimming, also while it is unfinished.
TEST_F(ReceivedDataTest, OutcomeDoesNotDependOnHowTheLineWasCut) {
  const std::string base = Message("ALARM");
  const std::string fits = base + std::string(LineFramer::MaxLineLength - base.size(), 'x');
  const std::string longEvent =
      AlarmLine.substr(0, AlarmLine.size() - 1) + fits.substr(base.size());
  const std::string blanks(9000, ' ');
  for (const std::string& tail : {std::string(), std::string("y")}) {  // fits, one over
    const std::string bytes = blanks + "\f" + fits.substr(0, 30) + "\r\r" + fits.substr(30) + tail +
                              "\f" + blanks + "\r\n";
    for (const size_t pieces : {1, 7, 3000}) {
      SCOPED_TRACE(tail + " pieces " + std::to_string(pieces));
      const size_t size = (bytes.size() + pieces - 1) / pieces;
      const size_t logged = LogMessages().size();
      for (size_t at = 0; at < bytes.size(); at += size) Receive(0, bytes.substr(at, size));
      Receive(0, base + "\n");
      EXPECT_EQ(Sent(), (tail.empty() ? longEvent + "\n" : "") + AlarmLine);
      const std::vector<std::string> logs = LogMessages();  // one line for the dropped one
      EXPECT_EQ(logs.size() - logged, tail.empty() ? 0u : 1u);
      if (!tail.empty() && pieces == 1) {
        EXPECT_EQ(logs.back(), "Line too long on port (0), 32768 characters dropped");
      }
    }
  }
}

TEST_F(ReceivedDataTest, UnfinishedTextIsCappedAndItsTailSkipped) {
  PortEntry& port = gateway.PortSettings(0);
  port.PollFailTimeout = 10;
  Receive(0, std::string(20000, 'B'));
  Receive(0, std::string(20000, 'B'));
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Unfinished line on port (0) exceeds 32767 "
                                                    "characters, dropped"});
  Receive(0, std::string(50000, 'B'));  // still the same line: dropped without another log
  timer.Ticks(10 * 10);
  EXPECT_EQ(Sent(),
            "1|||Fire panel||||TARVEL80 Connection 'Fire panel' (0) have failed (no events within "
            "10 s)\n");
  // The tail would parse as a message of its own; it is dropped, and its line feed counts.
  Receive(0, Message("ALARM").substr(0, 5) + " " + Message("ALARM") + "\n" + Message("ALARM"));
  EXPECT_EQ(Sent(), Restored);
  Receive(0, "\n");
  EXPECT_EQ(Sent(), AlarmLine);
  ASSERT_EQ(LogMessages().size(), 3u);  // the failure and the restore are logged as sent
  EXPECT_EQ(LogMessages()[2] + "\n", Restored.substr(Restored.find("TARVEL80")));
}

// A fault inside the handler, in the trace, in the window or in the clock, drops no more than
// the line it hit; a fault of the trace or of the window's drawing costs no line at all.
TEST_F(ReceivedDataTest, FaultInOneLineDropsOnlyThatLine) {
  UsePort(1, PortKind::Serial, "Serial");
  gateway.OpenSerialPort(1);
  menus.SetDebugChecked(true);
  debugList.FailNext();
  serialPorts[1]->Receive(Message("ALARM") + "\n" + Message("ALARM").substr(0, 20));
  connectionList.FailNext();
  EXPECT_THROW(timer.Tick(), std::runtime_error);  // the event queue's fence takes it
  serialPorts[1]->Receive(Message("ALARM").substr(20) + "\n");
  EXPECT_EQ(Sent(), AlarmLine + AlarmLine);
  timer.Tick();
  EXPECT_EQ(RowText(1, ConnectionListView::RxBytesColumn),
            std::to_string(2 * Message("ALARM").size() + 2))
      << "the next tick draws what the failed one did not";
  // A year out of range makes the date fall back to today, which reads the clock (as the
  // trace does, so it is off).
  menus.SetDebugChecked(false);
  clock.FailNext();
  Receive(0, Message("ALARM", "07-06-1E99") + "\n" + Message("ALARM") + "\n");
  EXPECT_EQ(Sent(), AlarmLine);
  EXPECT_EQ(
      LogMessages(),
      (std::vector<std::string>{
          "Unexpected fault in the display of port (1): debug list failed; the gateway goes on",
          "Line dropped on port (0), clock failed"}));
}

}  // namespace
}  // namespace tarvel
