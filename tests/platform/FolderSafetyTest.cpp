#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/posix/LinuxServiceControl.h"
#include "platform/posix/PosixProcessControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// A link put at the temporary settings file's name is never written through. (A link at the
// lock's name is the hostile-folder test's, through the real start.)
TEST(FolderSafetyTest, LinkAtTheSettingsTemporaryIsNotFollowed) {
  TempFolder folder;
  folder.Write("target", "kept\n");
  const std::string temporary = folder.Path() + LinuxServiceControl::SettingsFileName + ".tmp";
  std::filesystem::create_symlink(folder.Path() + "target", temporary);
  LinuxServiceControl service(ProgramLayout::InFolder(folder.Path()), "/x");
  EXPECT_FALSE(service.SaveSetting("Parameters", "RunAsService", "1"));
  EXPECT_EQ(service.LastError().rfind("cannot store RunAsService: ", 0), 0u) << service.LastError();
  EXPECT_EQ(folder.ReadFile("target"), "kept\n");
  EXPECT_TRUE(std::filesystem::is_symlink(temporary));
}

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
