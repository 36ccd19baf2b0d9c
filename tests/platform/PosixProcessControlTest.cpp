#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/PosixProcessControl.h"

namespace tarvel {
namespace {

// Whether a separate process can take the lock of a folder (flock locks belong to the open
// file, so a second open in this process would conflict just the same; a child shows it plainly).
bool ChildCanTakeLock(const std::string& folder) {
  const pid_t child = fork();
  if (child == 0) {
    PosixProcessControl process;
    _exit(process.TakeRunningCopyLock(folder) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(PosixProcessControl, OneRunningCopyPerProgramFolder) {
  char pattern[] = "/tmp/tarvel-lock-XXXXXX";
  const std::string root = std::string(mkdtemp(pattern)) + "/";
  std::filesystem::create_directories(root + "a");
  std::filesystem::create_directories(root + "b");

  EXPECT_TRUE(ChildCanTakeLock(root + "a/"));  // released when the child ended
  PosixProcessControl process;
  ASSERT_TRUE(process.TakeRunningCopyLock(root + "a/"));
  EXPECT_FALSE(ChildCanTakeLock(root + "a/"));
  EXPECT_TRUE(ChildCanTakeLock(root + "b/"));

  process.CreateFolder(root + "a/LogFiles/");
  process.CreateFolder(root + "a/LogFiles/");  // exists: ignored
  EXPECT_TRUE(std::filesystem::is_directory(root + "a/LogFiles"));
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace tarvel
