#include <algorithm>
#include <string>
#include <vector>

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
    auto kept = std::make_unique<KeptLines>(*log, &io);
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
    KeptLines kept(*log, nullptr);
    kept.Open(row.limit, "");
    if (row.before > 0) kept.Keep(std::string(row.before - 1, 'x') + "\n");
    EXPECT_EQ(kept.Keep(Line(1, row.line)), row.kept) << row.limit << " " << row.before;
    EXPECT_EQ(kept.Bytes(), row.before + (row.kept ? row.line : 0)) << row.limit;
    const bool room = kept.Bytes() < row.limit;
    EXPECT_EQ(kept.Keep(Line(2)), room) << row.limit << " " << row.before;
  }
}

TEST_F(KeptLinesTest, OutageIsLoggedOnceAndTheHandOverCounted) {
  KeptLines kept(*log, nullptr);
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

TEST_F(KeptLinesTest, RestartReadsWhatIsLeftAndNothingTwice) {
  auto kept = Open();
  for (int n = 0; n < 10; ++n) kept->Keep(Line(n));
  EXPECT_EQ(kept->Take(50), Lines(0, 2));
  kept->Sync();
  kept = Open();  // a restart: what was handed out is not handed out again
  EXPECT_EQ(kept->Take(1000), Lines(2, 10));
  EXPECT_EQ(io.Files[Path].size(), keepfile::HeaderSize) << "sent lines leave the file";
  kept->Keep(Line(10));
  const std::string unsent = kept->Take(1000) + Line(11);
  kept->Keep(Line(12));
  kept->Restore(unsent);  // handed out, never written to the alarm server
  kept = Open();
  EXPECT_EQ(kept->Take(1000), Line(10) + Line(11) + Line(12));
  const auto messages = LogMessages();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](auto& m) { return m.find("from an earlier run") != m.npos; }),
            2);
}

TEST_F(KeptLinesTest, FileCutAnywhereGivesTheCompleteRecordsBeforeTheCut) {
  std::string file = keepfile::Header();
  std::vector<size_t> ends;  // where each record ends
  std::vector<std::string> payloads;
  for (int n = 0; n < 6; ++n) {
    payloads.push_back(n == 3 ? Lines(100, 104) : Line(n, 10 + n * 7));
    keepfile::AppendRecords(file, payloads.back());
    ends.push_back(file.size());
  }
  file.replace(keepfile::SlotOffset(2), keepfile::SlotSize,
               keepfile::HeadSlot(payloads[0].size(), 2));  // record 0 went out
  // A cut at every byte, then a flipped byte inside record 4: it reads like a cut at its start.
  for (size_t cut = 0; cut <= file.size() + 1; ++cut) {
    const bool flipped = cut > file.size();
    io.Files[Path] = file.substr(0, cut);
    if (flipped) io.Files[Path][ends[4] - 3] ^= 0x20;
    std::string expected;
    size_t goodEnd = cut < keepfile::HeaderSize ? 0 : keepfile::HeaderSize;
    for (size_t r = 0; r < ends.size() && ends[r] <= (flipped ? ends[3] : cut); ++r) {
      if (r > 0) expected += payloads[r];
      goodEnd = ends[r];
    }
    const size_t dropped = io.Files[Path].size() - goodEnd;
    const size_t logged = LogMessages().size();
    EXPECT_EQ(Open()->Take(UINT64_MAX), expected) << "cut at " << cut;
    const std::string dropLine = std::string("Keep file ") + Path +
                                 (cut < keepfile::HeaderSize ? " not recognised: " : " damaged: ") +
                                 std::to_string(dropped) + " bytes dropped";
    const auto messages = LogMessages();
    EXPECT_EQ(std::find(messages.begin() + static_cast<long>(logged), messages.end(), dropLine) !=
                  messages.end(),
              dropped > 0)
        << "cut at " << cut;
  }
}

// The disk is full at the start, or after three lines.
TEST_F(KeptLinesTest, UnwritableFileIsLoggedOnceAndKeepingGoesOnInMemory) {
  for (const uint64_t capacity : {uint64_t{10}, keepfile::HeaderSize + 3 * 28}) {
    SCOPED_TRACE(capacity);
    io = FakeKeepFileIo();
    io.Capacity = capacity;
    const size_t logged = LogMessages().size();
    auto kept = Open();
    for (int n = 0; n < 10; ++n) kept->Keep(Line(n));
    kept->Sync();
    EXPECT_EQ(kept->Take(1000), Lines(0, 10));
    const auto messages = LogMessages();
    EXPECT_EQ(std::count_if(messages.begin() + static_cast<long>(logged), messages.end(),
                            [](auto& m) { return m.find("cannot be written") != m.npos; }),
              1);
  }
}

}  // namespace
}  // namespace tarvel
