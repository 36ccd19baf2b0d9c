#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "diag/DebugSave.h"
#include "diag/LogFile.h"
#include "diag/LogRetention.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/TrafficTrace.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

class DiagFileTest : public testing::Test {
 protected:
  DiagFileTest() { std::filesystem::create_directory(logs_); }
  std::string Today() const { return folder_.ReadFile("LogFiles/20170607.Log"); }

  TempFolder folder_;
  const std::string logs_ = folder_.Path() + "LogFiles/";
  FakeClock clock_;
};

// Each line is stamped unless it starts with a hyphen, its control bytes shown; a line cut short
// by an earlier run (the disk was full when it stopped) is ended before this run's first line.
TEST_F(DiagFileTest, StampsEachLineAndEndsACutLineBeforeIt) {
  const std::string stamp = "17-06-07 12:34:56 ";
  const struct Row {
    std::string before, text, added;
  } rows[] = {// clang-format off
      {"kept\r\n", "Program started", stamp + "Program started\r\n"}, {"", "-x", "-x\r\n"},
      {"", " -x", stamp + " -x\r\n"}, {"", "", stamp + "\r\n"}, {"\n", "x", stamp + "x\r\n"},
      {"", "a\r\nb", stamp + "a\\x0D\\x0Ab\r\n"}, {"", "\x1F \x7E", stamp + "\\x1F \x7E\r\n"},
      {"", std::string("\xC4\0\xFF\x1B[2J\x7F\t", 9),
       stamp + "\xC4\\x00\xFF\\x1B[2J\\x7F\\x09\r\n"},
      {"cut", "x", "\r\n" + stamp + "x\r\n"}, {"cut\r", "x", "\n" + stamp + "x\r\n"}};
  // clang-format on
  for (const Row& row : rows) {
    folder_.Write("LogFiles/20170607.Log", row.before);
    LogFile(clock_, logs_).WriteLog(row.text);
    EXPECT_EQ(Today(), row.before + row.added) << testing::PrintToString(row.before + row.text);
  }
}

TEST_F(DiagFileTest, MidnightStartsTheNextDaysFileByOneClockReading) {
  struct SteppingClock : Clock {  // a second before midnight once, midnight after
    LocalTime Now() const override {
      return reads++ == 0 ? LocalTime{2017, 12, 31, 23, 59, 59, 0}
                          : LocalTime{2018, 1, 1, 0, 0, 0, 0};
    }
    mutable int reads = 0;
  } stepping;
  LogFile log(stepping, logs_);
  log.WriteLog("before");
  log.WriteLog("after");
  EXPECT_EQ(folder_.ReadFile("LogFiles/20171231.Log"), "17-12-31 23:59:59 before\r\n");
  EXPECT_EQ(folder_.ReadFile("LogFiles/20180101.Log"), "18-01-01 00:00:00 after\r\n");
}

// A link put where the program writes in its folder, or at the log folder, is never written
// through, and that is said once.
TEST_F(DiagFileTest, LinkAtTheLogFolderTheLogOrDebugFileIsNotFollowed) {
  std::filesystem::create_directory(folder_.Path() + "elsewhere");
  std::filesystem::create_symlink(folder_.Path() + "target", folder_.Path() + "debug.txt");
  for (const std::string link : {"LogFiles/20170607.Log", "LogFiles"}) {
    std::filesystem::remove_all(folder_.Path() + link);
    std::filesystem::create_symlink(folder_.Path() + (link == "LogFiles" ? "elsewhere" : "target"),
                                    folder_.Path() + link);
    folder_.Write("target", "kept\n");
    LogFile log(clock_, logs_);
    testing::internal::CaptureStderr();
    log.WriteLog("through the link");
    log.WriteLog("once said is enough");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tarvel80import: " + folder_.Path() + link +
                  " is a symbolic link; log lines are not written\n");
    InMemoryDebugList list;
    EXPECT_FALSE(DebugSave(clock_).SaveDebugInfo(folder_.Path(), list));
    EXPECT_EQ(folder_.ReadFile("target"), "kept\n");
    EXPECT_TRUE(std::filesystem::is_empty(folder_.Path() + "elsewhere"));
  }
}

// A pipe under the day's log name is no log file: it gets no line, even with a reader waiting.
// The open itself takes a pipe (read-write, without blocking); only the check after it refuses.
TEST_F(DiagFileTest, PipeAtTheLogFileGetsNoLine) {
  const std::string pipe = logs_ + "20170607.Log";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  LogFile(clock_, logs_).WriteLog("into the pipe");
  char received[256];
  const ssize_t count = ::read(reader, received, sizeof received);
  ::close(reader);
  EXPECT_LE(count, 0) << std::string(received, static_cast<size_t>(std::max<ssize_t>(count, 0)));
}

// A full disk (here: the file size limit) cuts a line short; the next line still starts a line
// of its own.
TEST_F(DiagFileTest, LineCutShortIsEndedBeforeTheNextLine) {
  LogFile log(clock_, logs_);
  log.WriteLog("first");
  const auto full = static_cast<rlim_t>(Today().size() + 30);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limited{full, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  log.WriteLog("Invalid event type: a line too long for the space left");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  log.WriteLog("after");
  const std::string text = Today();
  EXPECT_EQ(text.substr(0, 25), "17-06-07 12:34:56 first\r\n") << text;
  EXPECT_EQ(text.substr(full), "\r\n17-06-07 12:34:56 after\r\n") << text;
}

// Past the day's limit ordinary lines are counted, not written; the count goes into that day's
// file before the next essential line and when the next day starts.
TEST_F(DiagFileTest, DailyLimitDropsOrdinaryLinesAndCountsThem) {
  const std::string stamp = "17-06-07 12:34:";
  LogFile log(clock_, logs_, 100);  // three lines of 26 bytes fit
  for (int second = 1; second <= 5; ++second) {
    clock_.Set(2017, 6, 7, 12, 34, second);
    log.WriteLog("line " + std::to_string(second));
  }
  log.WriteLog("TARVEL80 Server is stopping, reason 0", LogFile::Importance::Essential);
  log.WriteLog("line 6");
  clock_.Set(2017, 6, 8, 0, 0, 0);
  log.WriteLog("next day");
  EXPECT_EQ(Today(),
            stamp + "01 line 1\r\n" + stamp + "02 line 2\r\n" + stamp + "03 line 3\r\n" + stamp +
                "04 Log file reached 100 bytes: the rest of the day's lines are dropped\r\n" +
                stamp + "05 2 log lines dropped since 17-06-07 12:34:04\r\n" + stamp +
                "05 TARVEL80 Server is stopping, reason 0\r\n" +
                "17-06-08 00:00:00 1 log lines dropped since 17-06-07 12:34:05\r\n");
  EXPECT_EQ(folder_.ReadFile("LogFiles/20170608.Log"), "17-06-08 00:00:00 next day\r\n");
}

TEST_F(DiagFileTest, DebugSaveAppendsOneBlockPerSaveWithNumberedRows) {
  const auto block = [](const std::string& stamp, const std::string& rows) {
    return "DEBUG INFO\r\nSaved from TARVEL80 Import for Ostrel Alarm Server Debug " + stamp +
           "\r\n" + std::string(100, '-') + "\r\n" + rows + std::string(80, '-') + "\r\n";
  };
  clock_.Set(2017, 6, 7, 8, 9, 10);
  InMemoryDebugList list;
  DebugSave save(clock_);
  ASSERT_TRUE(save.SaveDebugInfo(folder_.Path(), list));  // empty: header and footer only
  list.AddItem("first");
  list.AddItem("J\xC4N<13>");
  clock_.Set(2017, 12, 31, 23, 59, 59);
  ASSERT_TRUE(save.SaveDebugInfo(folder_.Path(), list));
  EXPECT_EQ(folder_.ReadFile("debug.txt"),
            block("2017-06-07 08:09:10", "") +
                block("2017-12-31 23:59:59", "000 first\r\n001 J\xC4N<13>\r\n"));
  EXPECT_EQ(list.ListCount(), 2) << "saving leaves the list alone";
}

// Keeps today's file and those of the last N days; leaves every other name.
TEST_F(DiagFileTest, LogRetentionDeletesOnlyDailyLogFilesOlderThanTheLimitOncePerDay) {
  const struct Row {
    const char* name;
    bool stays;
    char kind;  // f: a file, d: a folder, l: a link
  } rows[] = {{"20170101.Log", false, 'f'}, {"20170506.Log", false, 'f'},
              {"20170507.Log", true, 'f'},  {"20170607.Log", true, 'f'},
              {"20170101.log", true, 'f'},  {"2017010.Log", true, 'f'},
              {"20171301.Log", true, 'f'},  {"notes.txt", true, 'f'},
              {"20170102.Log", true, 'd'},  {"20170103.Log", true, 'l'}};
  for (const Row& row : rows) {
    if (row.kind == 'f') folder_.Write(std::string("LogFiles/") + row.name, "x");
    if (row.kind == 'd') std::filesystem::create_directory(logs_ + row.name);
    if (row.kind == 'l') std::filesystem::create_symlink(logs_ + "notes.txt", logs_ + row.name);
  }
  LogFile log(clock_, logs_);
  int32_t days = 0;
  LogRetention retention(clock_, log, logs_, days);

  retention.Check();  // 0: every file stays
  EXPECT_TRUE(folder_.Exists("LogFiles/20170101.Log"));

  days = 31;
  retention.Check();
  for (const Row& row : rows) {
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(logs_ + row.name)), row.stays)
        << row.name;
  }
  EXPECT_NE(Today().find("Deleted 2 log files older than 31 days (LogRetentionDays)"),
            std::string::npos);

  // The same day again looks no more; the next day the file of 2017-05-07 is one day too old.
  folder_.Write("LogFiles/20170201.Log", "x");
  clock_.Set(2017, 6, 7, 23, 59, 59);
  retention.Check();
  EXPECT_TRUE(folder_.Exists("LogFiles/20170201.Log"));
  clock_.Set(2017, 6, 8, 0, 0, 1);
  retention.Check();
  EXPECT_FALSE(folder_.Exists("LogFiles/20170201.Log"));
  EXPECT_FALSE(folder_.Exists("LogFiles/20170507.Log"));
  EXPECT_TRUE(folder_.Exists("LogFiles/20170607.Log"));
}

class RefusalLogLimiterTest : public ::testing::Test {
 protected:
  // The clock `seconds` after 2017-06-07 23:59:00 (so tests cross midnight).
  void At(int seconds) {
    const int total = 23 * 3600 + 59 * 60 + seconds;
    const int rest = total % 86400;
    clock.Set(2017, 6, 7 + total / 86400, rest / 3600, rest / 60 % 60, rest % 60);
  }
  std::string Admit(const std::string& address) {
    return limiter.Admit(address, "Refused from " + address).value_or("(held back)");
  }

  FakeClock clock;
  RefusalLogLimiter limiter{clock, 4};
};

TEST_F(RefusalLogLimiterTest, OneLinePerAddressPerMinuteAndTheCountInTheNext) {
  const struct Step {
    int second;
    const char *address, *expected;
  } steps[] = {
      {0, "10.0.0.1", "Refused from 10.0.0.1"},
      {0, "10.0.0.1", "(held back)"},
      {1, "10.0.0.2", "Refused from 10.0.0.2"},
      {30, "10.0.0.1", "(held back)"},
      {59, "10.0.0.1", "(held back)"},
      {60, "10.0.0.1", "Refused from 10.0.0.1 (3 more refused since the last report)"},
      {61, "10.0.0.2", "Refused from 10.0.0.2"},  // nothing was held back for this one
      {100, "10.0.0.1", "(held back)"},
      {500, "10.0.0.1", "Refused from 10.0.0.1 (1 more refused since the last report)"},
      {560, "10.0.0.1", "Refused from 10.0.0.1"},
      {40, "10.0.0.1", "Refused from 10.0.0.1"},  // a clock set back never holds lines back
      {40, "10.0.0.1", "(held back)"},
  };
  for (const Step& step : steps) {
    At(step.second);
    EXPECT_EQ(Admit(step.address), step.expected) << "second " << step.second;
  }
}

TEST_F(RefusalLogLimiterTest, TableStaysBoundedAndAFullTableSharesOneSlot) {
  At(0);
  for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"})
    EXPECT_EQ(Admit(address), std::string("Refused from ") + address);
  // Full of recent keys: newcomers share the overflow slot, one line a minute between them.
  EXPECT_EQ(Admit("10.0.1.1"), "Refused from 10.0.1.1");
  EXPECT_EQ(Admit("10.0.1.2"), "(held back)");
  EXPECT_EQ(limiter.TrackedKeys(), 4u);
  At(30);
  EXPECT_EQ(Admit("10.0.0.4"), "(held back)") << "a tracked key keeps its own slot";
  At(60);  // a minute on, the old keys make room
  EXPECT_EQ(Admit("10.0.1.2"), "Refused from 10.0.1.2");
  EXPECT_EQ(limiter.TrackedKeys(), 1u);
  // A flood from many addresses never grows the table past its capacity.
  for (int n = 0; n < 10000; ++n) limiter.Admit("2001:db8::" + std::to_string(n), "x");
  EXPECT_LE(limiter.TrackedKeys(), 4u);
}

class TrafficTraceTest : public ::testing::Test {
 protected:
  TrafficTraceTest() {
    clock_.Set(2017, 6, 7, 14, 14, 5);
    menus_.SetDebugChecked(true);
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < list_.ListCount(); ++i) rows.push_back(list_.Item(i));
    return rows;
  }

  FakeClock clock_;
  InMemoryDebugList list_;
  InMemoryMenuChecks menus_;
  TrafficTrace trace_{clock_, list_, menus_};
};

// Control codes and bytes above 127 are rendered as their codes, in pieces of at most 180
// rendered characters, each with the time and the port or the alarm server.
TEST_F(TrafficTraceTest, RendersControlCodesInPiecesOnlyWhileTheWindowIsOpen) {
  const std::string a176(176, 'a'), a178(178, 'a'), a179(179, 'a'), a181(181, 'a');
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      // clang-format off
      {"A1\r\n", {"A1<13><10>"}}, {std::string("\t\0\x1F", 3), {"<9><0><31>"}}, {"", {}},
      {" \x7F~", {" \x7F~"}}, {"J\xC4N\x80\xFF", {"J<196>N<128><255>"}},
      {std::string(180, 'a'), {std::string(180, 'a')}}, {a181, {a181}}, {a181 + "a", {a181, "a"}},
      {a179 + "\xC4" + "b", {a179 + "<196>", "b"}},     // a token crossing 180
      {a178 + "\n" + "b", {a178 + "<10>", "b"}},        // a token ending exactly at 181
      {a176 + "\n" + "bc", {a176 + "<10>b", "c"}}};    // ending at 180 does not cut by itself
  // clang-format on
  for (const auto& [data, pieces] : cases) {
    list_.Clear();
    trace_.TraceTraffic(0, data, TrafficTrace::Received);
    std::vector<std::string> expected;
    for (const std::string& piece : pieces) expected.push_back("14:14:05 Rx <- 0: " + piece);
    EXPECT_EQ(Rows(), expected) << data.substr(0, 20) << " (" << data.size() << " bytes)";
  }
  list_.Clear();
  trace_.TraceTraffic(-5, "x", TrafficTrace::Sent);  // any negative port
  trace_.TraceTraffic(1, "y", TrafficTrace::Received);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"14:14:05 Tx -> Ostrel: x", "14:14:05 Rx <- 1: y"}));
  // With the debug window closed nothing is rendered, nor kept for when it opens again.
  menus_.SetDebugChecked(false);
  trace_.TraceTraffic(0, "A1\r\n", TrafficTrace::Received);
  trace_.AddDebugLine("line");
  menus_.SetDebugChecked(true);
  list_.Clear();
  trace_.TraceTraffic(0, "A2", TrafficTrace::Received);
  EXPECT_EQ(Rows(), std::vector<std::string>{"14:14:05 Rx <- 0: A2"});
}

TEST_F(TrafficTraceTest, KeepsTheNewest500RowsAndStopsTrimmingAListThatDoesNotShrink) {
  for (int i = 1; i <= 501; ++i) trace_.AddDebugLine("row " + std::to_string(i));
  ASSERT_EQ(list_.ListCount(), 500);
  EXPECT_EQ(list_.Item(0), "row 2");
  EXPECT_EQ(list_.Item(499), "row 501");
  EXPECT_EQ(list_.SelectedIndex(), 499);

  struct StuckList : InMemoryDebugList {  // trimming stops instead of holding the gateway
    void RemoveItem(int) override {}
  } stuck;
  TrafficTrace trace(clock_, stuck, menus_);
  for (int i = 0; i < 502; ++i) trace.AddDebugLine("x");
  EXPECT_EQ(stuck.ListCount(), 502);
}

}  // namespace
}  // namespace tarvel
