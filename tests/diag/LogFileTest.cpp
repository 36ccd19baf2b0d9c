#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "diag/DebugSave.h"
#include "diag/LogFile.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

// A clock that reads a second before midnight once and midnight after, to show how often it is
// read.
class SteppingClock : public Clock {
 public:
  LocalTime Now() const override {
    return reads_++ == 0 ? LocalTime{2017, 12, 31, 23, 59, 59, 0}
                         : LocalTime{2018, 1, 1, 0, 0, 0, 0};
  }

 private:
  mutable int reads_ = 0;
};

class LogFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    std::filesystem::create_directory(folder_.Path() + "LogFiles");
  }
  TempFolder folder_;
  FakeClock clock_;
};

TEST_F(LogFileTest, StampsEachLineUnlessItStartsWithAHyphen) {
  const struct Row {
    std::string text;
    std::string line;
  } rows[] = {
      {"Program started", "17-06-07 14:14:05 Program started\r\n"},
      {std::string(80, '-'), std::string(80, '-') + "\r\n"},
      {"-x", "-x\r\n"},
      {" -x", "17-06-07 14:14:05  -x\r\n"},
      {"", "17-06-07 14:14:05 \r\n"},
      {"a\r\nb", "17-06-07 14:14:05 a\\x0D\\x0Ab\r\n"},
      {std::string("\xC4\0\xFF\x1B[2J\x7F\t", 9),
       "17-06-07 14:14:05 \xC4\\x00\xFF\\x1B[2J\\x7F\\x09\r\n"},
  };
  clock_.Set(2017, 6, 7, 14, 14, 5);
  LogFile log(clock_, folder_.Path());
  std::string expected = "kept\r\n";
  folder_.WriteFile("LogFiles/20170607.Log", expected);
  for (const Row& row : rows) {
    log.WriteLog(row.text);
    expected += row.line;
    EXPECT_EQ(folder_.ReadFile("LogFiles/20170607.Log"), expected) << "text: " << row.text;
  }
}

// File name and stamp come from one reading, even when the clock passes midnight between two.
TEST_F(LogFileTest, MidnightStartsTheNextDaysFileByOneClockReading) {
  const SteppingClock stepping;
  LogFile log(stepping, folder_.Path());
  log.WriteLog("before");
  log.WriteLog("after");
  EXPECT_EQ(folder_.ReadFile("LogFiles/20171231.Log"), "17-12-31 23:59:59 before\r\n");
  EXPECT_EQ(folder_.ReadFile("LogFiles/20180101.Log"), "18-01-01 00:00:00 after\r\n");
}

// A link put where the program writes in its folder is never written through.
TEST_F(LogFileTest, LinkAtTheLogOrDebugFileIsNotFollowed) {
  folder_.WriteFile("target", "kept\n");
  std::filesystem::create_symlink(folder_.Path() + "target",
                                  folder_.Path() + "LogFiles/20170607.Log");
  std::filesystem::create_symlink(folder_.Path() + "target", folder_.Path() + "debug.txt");
  LogFile log(clock_, folder_.Path());
  log.WriteLog("through the link");
  InMemoryDebugList list;
  EXPECT_FALSE(DebugSave(clock_).SaveDebugInfo(folder_.Path(), list));
  EXPECT_EQ(folder_.ReadFile("target"), "kept\n");
}

// A full disk (here: the file size limit) cuts a line short; the next line still starts a line
// of its own.
TEST_F(LogFileTest, LineCutShortIsEndedBeforeTheNextLine) {
  LogFile log(clock_, folder_.Path());
  log.WriteLog("first");
  const std::string name = "LogFiles/20170607.Log";
  const auto full = static_cast<rlim_t>(folder_.ReadFile(name).size() + 30);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = full;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  log.WriteLog("Invalid event type: a line too long for the space left");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  log.WriteLog("after");
  const std::string text = folder_.ReadFile(name);
  EXPECT_EQ(text.substr(text.size() - 27), "\r\n17-06-07 12:34:56 after\r\n") << text;
  EXPECT_EQ(text.substr(0, 25), "17-06-07 12:34:56 first\r\n") << text;
  EXPECT_EQ(text.size(), full + 2 + 25) << "the cut line is ended, then the next written";
}

}  // namespace
}  // namespace tarvel
