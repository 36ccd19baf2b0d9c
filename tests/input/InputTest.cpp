#include <algorithm>
#include <iterator>
#include <optional>

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
  const std::string pad17(17, ' '), text182(182, 'x'), text31982(31982, 'x');
  const auto reset = [](const std::string& text) {
    return Message("RESET", "07-06-2017", "T", text) + "\n";
  };
  const struct Row {
    const char* name;
    std::string received, sent;
    std::vector<std::string> logs;
  } rows[] = {
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
       "1|2017-06-07|10:20:30|D\xC4R-1||||L\xE4s \xF6ppen\n", {}}};
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
    EXPECT_EQ(TotalsOf(0).SilenceFailures, restored ? 1u : 0u);
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
// the line after CR and FF removal and trimming, also while it is unfinished, and a line that
// holds FF but no CR inside loses it too.
TEST_F(ReceivedDataTest, OutcomeDoesNotDependOnHowTheLineWasCut) {
  const std::string base = Message("ALARM");
  const std::string fits = base + std::string(LineFramer::MaxLineLength - base.size(), 'x');
  const std::string longEvent =
      AlarmLine.substr(0, AlarmLine.size() - 1) + fits.substr(base.size());
  const std::string blanks(9000, ' ');
  for (const std::string& tail : {std::string(), std::string("y")}) {  // fits, one over
    for (const std::string inside : {"\r\r", "\f"}) {
      const std::string bytes = blanks + "\f" + fits.substr(0, 30) + inside + fits.substr(30) +
                                tail + "\f" + blanks + "\r\n";
      for (const size_t pieces : {1, 7, 3000}) {
        SCOPED_TRACE(tail + " pieces " + std::to_string(pieces) + (inside == "\f" ? " FF" : " CR"));
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

class SerialPortTest : public GatewayFixture {
 protected:
  // As start-up reads the port's section.
  void SetComSetting(int16_t port, const std::string& setting) {
    gateway.PortSettings(port).ComSetting = setting;
    gateway.PortSettings(port).Serial = ReadComSetting(setting).Setting;
  }
};

TEST_F(SerialPortTest, OpeningFromTheComSetting) {
  struct Row {
    const char* setting;
    bool opens;
    int16_t commPort;
    std::optional<SerialLineSettings> settings;
    int32_t handshaking;
  };
  using enum SerialParity;
  using enum SerialDataBits;
  using enum SerialStopBits;
  // A setting the check refuses reaches no control: the control keeps its defaults.
  const Row rows[] = {
      // clang-format off
      {"COM3,9600,N,8,1,0", true, 3, SerialLineSettings{9600, None, Eight, One}, 0},
      {"COM12,19200,S,7,2", true, 12, SerialLineSettings{19200, Space, Seven, Two}, 0},
      {"com7,300,m,6,1,2", true, 7, SerialLineSettings{300, Mark, Six, One}, 2},
      {" COM5 , 09600 ,o, 5 ,1.5, 3", true, 5, SerialLineSettings{9600, Odd, Five, OneAndHalf}, 3},
      {"XYZ7,9600,N,8,1,2", false, 1, {}, 0}, {"COM4,9600,N,8,1,1.5", false, 1, {}, 0},
      {"COM99999,9600,N,8,1,0", false, 1, {}, 0}, {"COM5,9600,N,8,1,99999999999", false, 1, {}, 0}};
  // clang-format on
  static_assert(std::size(rows) <= PortCount);  // each row on a port of its own
  for (int16_t port = 0; port < static_cast<int16_t>(std::size(rows)); ++port) {
    const Row& row = rows[port];
    SCOPED_TRACE(row.setting);
    const FakeSerialControl& serial = *serialPorts[port];
    SetComSetting(port, row.setting);
    EXPECT_EQ(gateway.OpenSerialPort(port), row.opens);
    EXPECT_EQ(serial.CommPort(), row.commPort);
    EXPECT_EQ(serial.Settings, row.settings);
    EXPECT_EQ(serial.Handshaking, row.handshaking);
  }
}

// An open port shows its setting and counts what it receives, and a lost device is logged; a
// failing step fails the opening.
TEST_F(SerialPortTest, OpenPortCountsWhatItReceivesUntilItsDeviceIsLost) {
  UsePort(1, PortKind::Serial, "Serial");
  SetComSetting(1, "COM3,9600,N,8,1,0");
  ASSERT_TRUE(gateway.OpenSerialPort(1));
  gateway.ShowStatus();
  EXPECT_EQ(RowText(1, ConnectionListView::StatusColumn), "Connected to COM3 (COM3,9600,N,8,1,0)");
  serialPorts[1]->Receive(std::string("\x00\x0D\x7F\x80\xFF", 5));
  timer.Ticks(1);  // the count shows on the tick
  EXPECT_EQ(RowText(1, ConnectionListView::RxBytesColumn), "5");
  serialPorts[1]->LoseDevice("No such device");
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Connection (1) failed (No such device)"});

  SetComSetting(2, "COM3,9600,N,8,1,0");
  serialPorts[2]->FailSettings("Invalid property value");
  EXPECT_FALSE(gateway.OpenSerialPort(2));
  EXPECT_TRUE(serialPorts[2]->PortOpen()) << "the later steps still run";
  serialPorts[3]->FailOpen("Port already open");
  SetComSetting(3, "COM4,9600,N,8,1,0");
  EXPECT_FALSE(gateway.OpenSerialPort(3));
}

const std::string Alarm = Message("ALARM") + "\r\n";

class TcpPortTest : public GatewayFixture {
 protected:
  TcpPortTest() {
    UsePort(2, PortKind::TcpServer, "Server");
    listeners[2]->SetLocalPort(4001);
    listeners[2]->Listen();
    UsePort(3, PortKind::TcpClient, "Client").RemoteAddress = "panel.local:4002";
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
