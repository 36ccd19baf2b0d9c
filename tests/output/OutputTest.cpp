#include <algorithm>
#include <functional>

#include "app/GatewayFixture.h"
#include "fakes/FakeKeepFileIo.h"
#include "output/AlarmServerLink.h"
#include "output/KeepFileFormat.h"
#include "output/KeptLines.h"
#include "support/SingleLineMessage.h"

namespace tarvel {
namespace {

constexpr const char* Path = "/gw/kept.dat";

std::string Line(int n, size_t length = 20) {
  std::string line = "1|||T" + std::to_string(n) + "||||";
  line.resize(std::max(length, line.size() + 1) - 1, 'x');
  return line + "\n";
}

std::string Lines(int from, int to) {
  std::string text;
  for (int n = from; n < to; ++n) text += Line(n);
  return text;
}

class KeptLinesTest : public GatewayFixture {
 protected:
  std::unique_ptr<KeptLines> Open(uint64_t limit = KeptLines::DefaultLimit) {
    auto kept = std::make_unique<KeptLines>(log, &io);
    kept->Open(limit, Path);
    return kept;
  }
  FakeKeepFileIo io;
};

TEST_F(KeptLinesTest, LimitKeepsTheCrossingLineWholeAndDropsLaterOnes) {
  const struct Row {
    uint64_t limit;
    size_t before;  // bytes kept before the test line
    size_t line;    // length of the test line
    bool kept;
  } rows[] = {{32768, 32767, 100, true}, {32768, 32768, 10, false}, {32768, 0, 40000, true},
              {100, 99, 20, true},       {100, 100, 20, false},     {0, 0, 20, false}};
  for (const Row& row : rows) {
    KeptLines kept(log, nullptr);
    kept.Open(row.limit, "");
    if (row.before > 0) kept.Keep(std::string(row.before - 1, 'x') + "\n");
    EXPECT_EQ(kept.Keep(Line(1, row.line)), row.kept) << row.limit << " " << row.before;
    EXPECT_EQ(kept.Bytes(), row.before + (row.kept ? row.line : 0)) << row.limit;
    const bool room = kept.Bytes() < row.limit;
    EXPECT_EQ(kept.Keep(Line(2)), room) << row.limit << " " << row.before;
  }
}

TEST_F(KeptLinesTest, OutageIsLoggedOnceAndTheHandOverCounted) {
  KeptLines kept(log, nullptr);
  kept.Open(50, "");
  for (int n = 0; n < 6; ++n) kept.Keep(Line(n));  // three kept, three dropped
  EXPECT_EQ(kept.Take(45), Line(0) + Line(1));
  EXPECT_EQ(kept.Take(1), Line(2)) << "a line longer than the piece goes out whole";
  EXPECT_TRUE(kept.Empty());
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "Ostrel not connected: keeping event lines in memory",
                "Keeping limit of 50 characters reached: further event lines are dropped until "
                "the kept lines are sent",
                "Sent 3 kept event lines (60 bytes) to Ostrel",
                "Keeping limit: 3 event lines were dropped"}));
  kept.Keep(Line(6));  // the next outage counts afresh
  EXPECT_EQ(kept.Take(1000), Line(6));
  EXPECT_EQ(LogMessages().back(), "Sent 1 kept event lines (20 bytes) to Ostrel");
}

TEST_F(KeptLinesTest, RestartReadsWhatWasNotTakenByTheSystemAndNothingTwice) {
  auto kept = Open();
  for (int n = 0; n < 10; ++n) kept->Keep(Line(n));
  EXPECT_EQ(kept->Take(50), Lines(0, 2));
  kept = Open();  // a kill: handed out, but the system took none of it
  EXPECT_EQ(kept->Take(50), Lines(0, 2));
  kept->Delivered(Line(0).size() + 5);  // line 1 taken only in part
  kept = Open();
  EXPECT_EQ(kept->Take(1000), Lines(1, 10)) << "a line taken in part goes out again whole";
  kept->Delivered(Lines(1, 10).size());
  EXPECT_EQ(io.Files[Path].size(), keepfile::HeaderSize) << "sent lines leave the file";
  kept->Keep(Line(10));
  kept->Keep(Line(11));
  EXPECT_EQ(kept->Take(1000), Line(10) + Line(11));
  kept->Delivered(Line(10).size());
  kept->Rewind();  // the connection ended with line 11 unsent
  kept->Keep(Line(12));
  kept->WritePending();  // the end of a reception
  EXPECT_EQ(kept->Lines(), 2u);
  kept = Open();
  EXPECT_EQ(kept->Take(1000), Line(11) + Line(12))
      << "records written after the file was cut back count on from its head";
}

// A keep file of 30 records, two lines each, of which the first 4 records went out.
struct KeptFile {
  std::string Bytes = keepfile::Header();
  std::vector<size_t> Starts;  // of each record
  std::string All;             // every record's lines
  KeptFile() {
    uint64_t stream = 0;
    for (int r = 0; r < 30; ++r) {
      Starts.push_back(Bytes.size());
      keepfile::AppendRecords(Bytes, Lines(2 * r, 2 * r + 2), stream);
    }
    All = Lines(0, 60);
    Bytes.replace(keepfile::SlotOffset(2), keepfile::SlotSize,
                  keepfile::HeadSlot(Sent().size(), 2));
  }
  static std::string Sent() { return Lines(0, 8); }
  // What a reader must hand out, all intact, when record r is lost.
  static std::string Without(int r) { return Lines(8, 2 * r) + Lines(2 * r + 2, 60); }
};

TEST_F(KeptLinesTest, DamageCostsTheDamagedRecordOnlyAndTheFileIsSetAside) {
  const KeptFile good;
  const struct Row {
    const char* name;
    std::function<void(std::string&)> damage;
    std::string expected;
    const char* logged;            // part of the damage line
    bool setAsideEarlier = false;  // a file set aside earlier is never written over
  } rows[] = {
      {"a bit flipped in the middle record's payload",
       [&](std::string& f) { f[good.Starts[15] + 30] ^= 0x04; }, good.Without(15), ": 1 records"},
      {"a length of 4 GiB in the middle record",
       [&](std::string& f) { f.replace(good.Starts[15] + 4, 4, "\xff\xff\xff\xff"); },
       good.Without(15), ": 1 records"},
      // A damaged header holds the head: every line goes out again.
      {"the magic damaged", [&](std::string& f) { f[0] = 'X'; }, good.All,
       "all its lines go out again"},
      {"both head slots damaged",
       [&](std::string& f) {
         f[keepfile::SlotOffset(0)] ^= 1;
         f[keepfile::SlotOffset(1)] ^= 1;
       },
       good.All, "all its lines go out again"},
      {"the last record cut short", [&](std::string& f) { f.resize(f.size() - 7); },
       good.Without(29), ": 1 records", true},
      {"a sent record damaged", [&](std::string& f) { f[good.Starts[2] + 30] ^= 0x04; },
       Lines(8, 60), ": 1 records"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    io = FakeKeepFileIo();
    std::string damaged = good.Bytes;
    row.damage(damaged);
    io.Files[Path] = damaged;
    const std::string aside = std::string(Path) + (row.setAsideEarlier ? ".damaged-2" : ".damaged");
    if (row.setAsideEarlier) io.Files[std::string(Path) + ".damaged"] = "earlier";
    const size_t logged = LogMessages().size();
    auto kept = Open();
    EXPECT_EQ(kept->Take(UINT64_MAX), row.expected);
    EXPECT_EQ(io.Files[aside], damaged) << "kept aside as it was";
    const auto messages = LogMessages();
    const auto line = std::find_if(messages.begin() + static_cast<long>(logged), messages.end(),
                                   [](auto& m) { return m.find(" damaged: ") != m.npos; });
    ASSERT_NE(line, messages.end());
    EXPECT_NE(line->find(row.logged), std::string::npos) << *line;
    EXPECT_NE(line->find("kept as " + aside), std::string::npos) << *line;
    EXPECT_EQ(io.Files[std::string(Path) + ".damaged"], row.setAsideEarlier ? "earlier" : damaged);
    kept = Open();  // the new file holds what was read, nothing of the damage
    EXPECT_EQ(kept->Take(UINT64_MAX), row.expected);
  }
}

TEST_F(KeptLinesTest, AFileThatIsNotAKeepFileIsRefusedAndLeftAlone) {
  for (const std::string& contents : {std::string("[General]\r\nOstrelPort=14000\r\n"),
                                      std::string(100, '\0'), std::string("TARVKEE")}) {
    io.Files[Path] = contents;
    KeptLines kept(log, &io);
    const std::string error = kept.Open(KeptLines::DefaultLimit, Path);
    EXPECT_NE(error.find("not a keep file"), std::string::npos) << error;
    kept.Keep(Line(1));
    kept.Sync();
    EXPECT_EQ(io.Files[Path], contents);
    EXPECT_EQ(io.Files.size(), 1u);
  }
}

// Also with a torn tail: a kill while a record's first bytes were written.
TEST_F(KeptLinesTest, AFileOfTheFirstVersionIsReadAndWrittenAnew) {
  for (const size_t torn : {0, 1, 3, 7}) {
    SCOPED_TRACE(torn);
    io = FakeKeepFileIo();
    std::string file = keepfile::Header(1);
    uint64_t stream = 0;
    keepfile::AppendRecords(file, Lines(0, 3), stream, 1);
    keepfile::AppendRecords(file, Lines(3, 6), stream, 1);
    file.replace(keepfile::SlotOffset(2), keepfile::SlotSize,
                 keepfile::HeadSlot(Line(0).size(), 2));
    file.append(torn, '\x40');
    io.Files[Path] = file;
    auto kept = Open();
    EXPECT_EQ(keepfile::Parse(io.Files[Path]).Version, keepfile::Version);
    EXPECT_EQ(kept->Take(UINT64_MAX), Lines(1, 6));
  }
}

// A reception's lines go into the file as one record by the end of the reception, so a kill
// then loses none; a reception the disk has no room for stays in memory, behind the file's
// lines.
TEST_F(KeptLinesTest, AReceptionIsWrittenWholeAtItsEndOrHeldInMemory) {
  auto kept = Open();
  for (int n = 0; n < 3; ++n) kept->Keep(Line(n));
  kept->WritePending();
  EXPECT_EQ(io.Files[Path].size(), keepfile::HeaderSize + keepfile::RecordHeaderSize(2) + 60);
  EXPECT_EQ(Open()->Take(1000), Lines(0, 3)) << "after a kill";
  kept = Open();
  io.Capacity = io.Used() + 30;
  for (int n = 3; n < 6; ++n) kept->Keep(Line(n));
  kept->WritePending();
  kept->Keep(Line(6));
  kept->WritePending();
  EXPECT_NE(LogMessages().back().find("cannot be written"), std::string::npos);
  EXPECT_EQ(kept->Take(1000), Lines(0, 7));
  EXPECT_EQ(Open()->Take(1000), Lines(0, 3));
  io.Capacity = UINT64_MAX;
  kept->Delivered(Lines(0, 3).size());
  EXPECT_EQ(Open()->Take(1000), Lines(3, 7)) << "once the file's own lines are out";
}

// A full disk: the lines a killed gateway left are read, sent and marked sent in place, so the
// next start sends none of them again.
TEST_F(KeptLinesTest, SentLinesAreRecordedOnAFullDisk) {
  {
    auto kept = Open();
    for (int n = 0; n < 1200; ++n) kept->Keep(Line(n));
    kept->WritePending();
  }
  io.Capacity = io.Used();
  for (int start = 0; start < 3; ++start) {
    auto kept = Open();
    const std::string taken(kept->Take(UINT64_MAX));
    EXPECT_EQ(taken.size(), start == 0 ? Lines(0, 1200).size() : 0u) << "start " << start;
    kept->Delivered(taken.size());
    kept->Sync();
  }
}

// The disk is full at the start or after three lines, or fails to make the file durable: said
// once, and keeping goes on in memory.
TEST_F(KeptLinesTest, UnwritableFileIsLoggedOnceAndKeepingGoesOnInMemory) {
  const struct Row {
    uint64_t capacity;
    const char* syncError;
    const char* logged;
  } rows[] = {{10, "", "cannot be written"},
              {keepfile::HeaderSize + 3 * 28, "", "cannot be written"},
              {UINT64_MAX, "Input/output error", "cannot be written (Input/output error)"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.capacity);
    io = FakeKeepFileIo();
    io.Capacity = row.capacity;
    const size_t logged = LogMessages().size();
    auto kept = Open();
    kept->Keep(Line(0));
    io.SyncError = row.syncError;
    kept->Sync();
    for (int n = 1; n < 10; ++n) kept->Keep(Line(n));
    kept->Sync();
    EXPECT_EQ(kept->Take(1000), Lines(0, 10));
    const auto messages = LogMessages();
    const auto count = [&](const std::string& text) {
      return std::count_if(messages.begin() + static_cast<long>(logged), messages.end(),
                           [&](auto& m) { return m.find(text) != m.npos; });
    };
    EXPECT_EQ(count("cannot be written"), 1);
    EXPECT_EQ(count(row.logged), 1);
  }
}

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
std::string EventLine(const std::string& tag = "ZONE-12-DOOR",
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
  EXPECT_EQ(Sent(), EventLine() + EventLine() + EventLine() + "1|||WD\n");
  EXPECT_EQ(LinkTotals().LinesSent, 4u);
  const std::string last = debugList.Item(debugList.ListCount() - 1);
  EXPECT_TRUE(last.ends_with(" Tx -> Ostrel: 1|||WD<10>")) << last;
  EXPECT_EQ(CounterPanel(), "Ostrel TxBytes:172, RxBytes:0");
  ostrelData.Receive("ack\r\n");
  EXPECT_EQ(CounterPanel(), "Ostrel TxBytes:172, RxBytes:0");
  timer.Ticks(1);  // the text is made once per tick
  EXPECT_EQ(CounterPanel(), "Ostrel TxBytes:172, RxBytes:5");
  // Lines forwarded together show one row each, in order, after the reception's own.
  Receive(0, Alarm("A") + Alarm("B"));
  const int rows = debugList.ListCount();
  ASSERT_GE(rows, 3);
  for (const std::string tag : {"A", "B"}) {
    std::string line = EventLine(tag);
    line.replace(line.size() - 1, 1, "<10>");
    const std::string row = debugList.Item(rows - (tag == "A" ? 2 : 1));
    EXPECT_TRUE(row.ends_with(" Tx -> Ostrel: " + line)) << row;
  }
  EXPECT_NE(debugList.Item(rows - 3).find(" Rx <- 0: "), std::string::npos);
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
    kept += EventLine(tag, text);
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
  EXPECT_EQ(Sent(), EventLine("KEPT") + EventLine("NEW"));
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
    EXPECT_EQ(Sent(), keep ? unsent + EventLine() : "");
  }
}

// A reception's lines go to the socket in one piece, behind the kept lines still waiting.
TEST_F(AlarmServerLinkTest, AReceptionGoesOutInOneSendBehindKeptLines) {
  state.General.WatchDogInterval = 0;
  ConnectOstrel();
  Receive(0, Alarm("A") + Alarm("B") + Alarm("C"));
  EXPECT_EQ(ostrelData.SendCalls, 1);
  EXPECT_EQ(Sent(), EventLine("A") + EventLine("B") + EventLine("C"));
  ostrelData.FireClose();
  Receive(0, Alarm("K"));
  ConnectOstrel();
  Receive(0, Alarm("D") + Alarm("E"));
  EXPECT_EQ(Sent(), EventLine("K") + EventLine("D") + EventLine("E"));
  EXPECT_EQ(LinkTotals().LinesSent, 6u);
}

// A connection that ends with lines unsent: what the system took is not sent again; the kept
// lines it had not taken go first, then the connection's other lines, then the lines kept while
// the connection was going (they are newer).
TEST_F(AlarmServerLinkTest, UnsentLinesGoOutAgainAheadOfLinesKeptWhileTheConnectionWent) {
  Receive(0, Alarm("K1") + Alarm("K2") + Alarm("K3"));  // kept: no alarm server
  ConnectOstrel();
  timer.Tick();
  ASSERT_EQ(Sent(), EventLine("K1") + EventLine("K2") + EventLine("K3"));
  ostrelData.FireLinesWritten(EventLine("K1").size());
  Receive(0, Alarm("L1"));  // nothing kept waits: sent at once
  ASSERT_EQ(Sent(), EventLine("L1"));
  ostrelData.SetState(SocketControl::Closing);  // the peer went; its Close event is on its way
  Receive(0, Alarm("N1"));
  ostrelData.Unsent = EventLine("K2") + EventLine("K3") + EventLine("L1");
  ostrelData.FireClose();
  ConnectOstrel();
  timer.Tick();
  EXPECT_EQ(Sent(), EventLine("K2") + EventLine("K3") + EventLine("L1") + EventLine("N1"));
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
  EXPECT_EQ(Sent(), EventLine());
  EXPECT_EQ(LogMessages().back(), fault + " (1 more faults since the last report)");
}

}  // namespace
}  // namespace tarvel
