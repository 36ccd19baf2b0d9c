#include <string>
#include <vector>

#include "app/GatewayFixture.h"
#include "input/LineFramer.h"
#include "support/SingleLineMessage.h"

namespace tarvel {
namespace {

const std::string AlarmLine = "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n";
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
// rejected lines logged.
TEST_F(ReceivedDataTest, SingleLineMessages) {
  struct Row {
    const char* name;
    std::string received;
    std::string sent;
    std::vector<std::string> logs;
  };
  const std::string pad17(17, ' ');
  const std::string text182(182, 'x');
  const std::string text31982(31982, 'x');
  const std::vector<Row> rows = {
      // clang-format off
      {"complete, CR LF", Message("ALARM") + "\r\n", AlarmLine, {}},
      {"lone LF and LF CR", Message("ALARM") + "\n\r", AlarmLine, {}},
      {"short: no text", "ALARM 07-06-2017 10:20:30 SHORT\n", "", {"Invalid event type: SHORT"}},
      // The echo of a rejected line stops at 200 characters: 18 of tag, then the text.
      {"unknown type, 200 characters", Message("RESET", "07-06-2017", "T", text182) + "\n", "",
       {"Unknown event type: T" + pad17 + text182}},
      {"unknown type, 201 characters", Message("RESET", "07-06-2017", "T", text182 + "y") + "\n",
       "", {"Unknown event type: T" + pad17 + text182 + " (1 more characters)"}},
      {"unknown type, 32000 characters", Message("RESET", "07-06-2017", "T", text31982) + "\n",
       "", {"Unknown event type: T" + pad17 + text182 + " (31800 more characters)"}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(state.ProgramPath + "LogFiles/20170607.Log");
    Receive(0, row.received);
    EXPECT_EQ(Sent(), row.sent);
    EXPECT_EQ(LogMessages(), row.logs);
  }
}

TEST_F(ReceivedDataTest, CharacterConversionBeforeParsing) {
  PortEntry& port = gateway.PortSettings(0);
  port.Swedish7BitASCII2ISOLatin1 = true;
  port.DOSASCII2ISOLatin1 = true;
  Receive(0, Message("ALARM", "07-06-2017", "D[R-1", "L{s \x94ppen") + "\n");
  EXPECT_EQ(Sent(), "1|2017-06-07|10:20:30|D\xC4R-1||||L\xE4s \xF6ppen\n");
}

// Every finished line, also a rejected or empty one, is a sign of life; unfinished text is not.
TEST_F(ReceivedDataTest, RestoreEventFollowsTheLinesOwnEvent) {
  struct Row {
    int32_t timeout, silentSeconds;
    std::string received, sent;
    bool alive;
  };
  const std::string alarm = Message("ALARM") + "\r\n";
  for (const Row& row :
       {Row{60, 60, alarm, AlarmLine + Restored, true}, Row{60, 59, alarm, AlarmLine, true},
        Row{0, 5, alarm, AlarmLine, true}, Row{10, 10, "\n", Restored, true},
        Row{10, 3, "no line feed", "", false}}) {
    SCOPED_TRACE(std::to_string(row.silentSeconds) + " " + row.received);
    gateway.PortSettings(0).PollFailTimeout = row.timeout;
    Receive(0, "\n");  // the silence starts from here
    timer.Ticks(10 * row.silentSeconds);
    Sent();
    clock.Set(2018, 1, 1, 0, row.silentSeconds % 60, 0);  // a minute of the row's own
    Receive(0, row.received);
    EXPECT_EQ(Sent(), row.sent);
    const std::optional<LocalTime>& restoredAt = TotalsOf(0).RestoredAt;
    EXPECT_EQ(restoredAt && restoredAt->Minute == row.silentSeconds % 60,
              row.sent.ends_with(Restored));
    // A sign of life starts the silence again: no failure for a whole timeout.
    timer.Ticks(10 * (row.timeout - 1));
    if (row.timeout > 0) {
      EXPECT_EQ(Sent().empty(), row.alive);
    }
  }
}

// The restore starts the reminder count again: the next failure's first reminder comes a
// whole PollFailRemindTime after it.
TEST_F(ReceivedDataTest, RestoreStartsTheRemindersAgain) {
  PortEntry& port = gateway.PortSettings(0);
  port.PollFailTimeout = 10;
  port.PollFailRemindTime = 30;
  timer.Ticks(10 * 17);  // failed in the tenth second, seven towards the reminder
  Receive(0, "\n");
  timer.Ticks(10 * 39);
  Sent();
  timer.Ticks(10);
  EXPECT_EQ(Sent(),
            "1|||Fire panel||||TARVEL80 Connection 'Fire panel' (0) is still bad (cyclic 30 s "
            "reminder)\n");
}

// A header line switches its port, and only its port, to the multi-line format, unless the port
// keeps the single-line one.
TEST_F(ReceivedDataTest, HeaderLineSwitchesThePortToTheMultiLineFormat) {
  gateway.PortSettings(1).ForceOldParsing = true;
  for (const int16_t port : {0, 1}) {
    Receive(port, "nack alarm 12-JAN-17 10:20:30 Fire detector\r\n");
    Receive(port, Message("ALARM") + "\r\n");  // on port 0 a text line of the pending event
  }
  EXPECT_EQ(Sent(), AlarmLine);
  timer.Ticks(11);
  EXPECT_EQ(Sent(),
            "1|2017-01-12|10:20:30|nack alarm Fire detector||||ALARM 07-06-2017 10:20:30 "
            "ZONE-12-DOOR Door forced open\n");
  Receive(2, Message("ALARM") + "\r\n");
  EXPECT_EQ(Sent(), AlarmLine);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Unknown event type: 20:30 Fire detector"});
}

// Each port collects its own multi-line events, sent at the next header or the eleventh tick.
TEST_F(ReceivedDataTest, NextHeaderSendsThePendingEventAtItsArrivalTime) {
  UsePort(2, PortKind::TcpServer, "Panel 2");
  UsePort(5, PortKind::TcpServer, "Panel 5");
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
  debugList.FailNextAdd();
  serialPorts[1]->Receive(Message("ALARM") + "\n" + Message("ALARM").substr(0, 20));
  connectionList.FailNextUpdate();
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
  clock.FailNextReading();
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
