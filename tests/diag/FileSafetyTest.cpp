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

// A link put where the program writes in its folder is never written through.
TEST(FileSafety, LinkAtTheLogOrDebugFileIsNotFollowed) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path() + "LogFiles");
  folder.WriteFile("target", "kept\n");
  const FakeClock clock;  // 2017-06-07
  std::filesystem::create_symlink(folder.Path() + "target",
                                  folder.Path() + "LogFiles/20170607.Log");
  std::filesystem::create_symlink(folder.Path() + "target", folder.Path() + "debug.txt");
  LogFile log(clock, folder.Path());
  log.WriteLog("through the link");
  InMemoryDebugList list;
  EXPECT_FALSE(DebugSave(clock).SaveDebugInfo(folder.Path(), list));
  EXPECT_EQ(folder.ReadFile("target"), "kept\n");
}

// A full disk (here: the file size limit) cuts a line short; the next line still starts a line
// of its own.
TEST(FileSafety, LineCutShortIsEndedBeforeTheNextLine) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path() + "LogFiles");
  const FakeClock clock;
  LogFile log(clock, folder.Path());
  log.WriteLog("first");
  const std::string name = "LogFiles/20170607.Log";
  const auto full = static_cast<rlim_t>(folder.ReadFile(name).size() + 30);
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
  const std::string text = folder.ReadFile(name);
  EXPECT_EQ(text.substr(text.size() - 27), "\r\n17-06-07 12:34:56 after\r\n") << text;
  EXPECT_EQ(text.substr(0, 25), "17-06-07 12:34:56 first\r\n") << text;
  EXPECT_EQ(text.size(), full + 2 + 25) << "the cut line is ended, then the next written";
}

}  // namespace
}  // namespace tarvel
