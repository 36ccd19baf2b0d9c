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
  const struct Row {
    const char* name;
    bool stays;
    char kind;  // f: a file, d: a folder, l: a link
  } rows[] = {{"20170101.Log", false, 'f'}, {"20170506.Log", false, 'f'},
              {"20170507.Log", true, 'f'},  {"20170607.Log", true, 'f'},
              {"20170101.log", true, 'f'},  {"2017010.Log", true, 'f'},
              {"20171301.Log", true, 'f'},  {"notes.txt", true, 'f'},
              {"20170102.Log", true, 'd'},  {"20170103.Log", true, 'l'}};
  const std::string logs = folder.Path() + "LogFiles/";
  for (const Row& row : rows) {
    if (row.kind == 'f') folder.WriteFile(std::string("LogFiles/") + row.name, "x");
    if (row.kind == 'd') std::filesystem::create_directory(logs + row.name);
    if (row.kind == 'l') std::filesystem::create_symlink(logs + "notes.txt", logs + row.name);
  }
  FakeClock clock;  // 2017-06-07
  LogFile log(clock, folder.Path());
  const std::string path = folder.Path();
  int32_t days = 0;
  LogRetention retention(clock, log, path, days);

  retention.Check();  // 0: every file stays
  EXPECT_TRUE(folder.Exists("LogFiles/20170101.Log"));

  days = 31;
  retention.Check();
  for (const Row& row : rows) {
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(logs + row.name)), row.stays)
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
