#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/posix/PosixProcessControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// Whether a separate process can take the lock of a folder (flock locks belong to the open
// file, so a second open in this process would conflict just the same; a child shows it plainly).
bool ChildCanTakeLock(const std::string& folder) {
  const pid_t child = fork();
  std::string refusal;
  if (child == 0) _exit(PosixProcessControl().TakeRunningCopyLock(folder, refusal) ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(PosixProcessControl, OneRunningCopyPerProgramFolder) {
  TempFolder root;
  std::filesystem::create_directories(root.Path() + "a");
  std::filesystem::create_directories(root.Path() + "b");
  EXPECT_TRUE(ChildCanTakeLock(root.Path() + "a/"));  // released when the child ended
  PosixProcessControl process;
  std::string refusal;
  ASSERT_TRUE(process.TakeRunningCopyLock(root.Path() + "a/", refusal));
  EXPECT_FALSE(ChildCanTakeLock(root.Path() + "a/"));
  EXPECT_TRUE(ChildCanTakeLock(root.Path() + "b/"));
}

}  // namespace
}  // namespace tarvel
