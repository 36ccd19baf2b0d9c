#include <algorithm>
#include <functional>

#include "app/GatewayFixture.h"
#include "fakes/FakeKeepFileIo.h"
#include "output/KeepFileFormat.h"
#include "output/KeptLines.h"

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
  } rows[] = {
      {32768, 32767, 100, true}, {32768, 32768, 10, false}, {32768, 0, 40000, true},
      {100, 99, 20, true},       {100, 100, 20, false},     {0, 0, 20, false},
  };
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
       Lines(8, 60), ": 1 records"},
  };
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

// A full disk: the lines a killed gateway left are read, sent and marked sent in place, so the
// next start sends none of them again.
TEST_F(KeptLinesTest, SentLinesAreRecordedOnAFullDisk) {
  {
    auto kept = Open();
    for (int n = 0; n < 1200; ++n) kept->Keep(Line(n));
  }
  uint64_t used = 0;
  for (const auto& [name, contents] : io.Files) used += contents.size();
  io.Capacity = used;
  for (int start = 0; start < 3; ++start) {
    auto kept = Open();
    const std::string taken = kept->Take(UINT64_MAX);
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
  } rows[] = {
      {10, "", "cannot be written"},
      {keepfile::HeaderSize + 3 * 28, "", "cannot be written"},
      {UINT64_MAX, "Input/output error", "cannot be written (Input/output error)"},
  };
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

}  // namespace
}  // namespace tarvel
