#include <gtest/gtest.h>

#include <filesystem>

#include "diag/LogRetention.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// Keeps today's file and those of the last N days; looks once a day; leaves every other name.
TEST(LogRetention, DeletesOnlyDailyLogFilesOlderThanTheLimitOncePerDay) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path() + "LogFiles");
  const char* files[] = {"20170101.Log", "20170506.Log", "20170507.Log", "20170607.Log",
                         "20170101.log", "2017010.Log",  "20171301.Log", "notes.txt"};
  for (const char* name : files) folder.WriteFile(std::string("LogFiles/") + name, "x");
  std::filesystem::create_directory(folder.Path() + "LogFiles/20170102.Log");
  std::filesystem::create_symlink(folder.Path() + "LogFiles/notes.txt",
                                  folder.Path() + "LogFiles/20170103.Log");
  FakeClock clock;  // 2017-06-07
  LogFile log(clock, folder.Path());
  const std::string path = folder.Path();
  int32_t days = 0;
  LogRetention retention(clock, log, path, days);

  retention.Check();  // 0: every file stays
  EXPECT_TRUE(folder.Exists("LogFiles/20170101.Log"));

  days = 31;
  retention.Check();
  const struct Row {
    const char* name;
    bool stays;
  } rows[] = {
      {"20170101.Log", false}, {"20170506.Log", false}, {"20170507.Log", true},
      {"20170607.Log", true},  {"20170101.log", true},  {"2017010.Log", true},
      {"20171301.Log", true},  {"notes.txt", true},     {"20170102.Log", true},
      {"20170103.Log", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(
        std::filesystem::exists(std::filesystem::symlink_status(path + "LogFiles/" + row.name)),
        row.stays)
        << row.name;
  }
  EXPECT_NE(folder.ReadFile("LogFiles/20170607.Log")
                .find("Deleted 2 log files older than 31 days (LogRetentionDays)"),
            std::string::npos);

  // The same day again looks no more; the next day the file of 2017-05-07 is one day too old.
  folder.WriteFile("LogFiles/20170201.Log", "x");
  clock.Set(2017, 6, 7, 23, 59, 59);
  retention.Check();
  EXPECT_TRUE(folder.Exists("LogFiles/20170201.Log"));
  clock.Set(2017, 6, 8, 0, 0, 1);
  retention.Check();
  EXPECT_FALSE(folder.Exists("LogFiles/20170201.Log"));
  EXPECT_FALSE(folder.Exists("LogFiles/20170507.Log"));
  EXPECT_TRUE(folder.Exists("LogFiles/20170607.Log"));
}

}  // namespace
}  // namespace tarvel
