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

// Links put at the names the program writes are never written through: the temporary
// settings file, the lock file.
TEST(FolderSafetyTest, LinkAtTheSettingsTemporaryOrLockIsNotFollowed) {
  TempFolder folder;
  const std::string target = folder.Path() + "target";
  folder.Write("target", "kept\n");
  const std::string temporary = folder.Path() + LinuxServiceControl::SettingsFileName + ".tmp";
  std::filesystem::create_symlink(target, temporary);
  std::filesystem::create_symlink(folder.Path() + "new-lock",
                                  folder.Path() + PosixProcessControl::LockFileName);
  LinuxServiceControl service(ProgramLayout::InFolder(folder.Path()), "/x");
  EXPECT_FALSE(service.SaveSetting("Parameters", "RunAsService", "1"));
  EXPECT_EQ(service.LastError().rfind("cannot store RunAsService: ", 0), 0u) << service.LastError();
  PosixProcessControl process;
  std::string refusal;
  EXPECT_FALSE(process.TakeRunningCopyLock(folder.Path(), refusal)) << "a link is no lock";
  EXPECT_EQ(refusal, folder.Path() + PosixProcessControl::LockFileName +
                         " is a symbolic link, not the running-copy lock; remove it to start");
  EXPECT_EQ(folder.ReadFile("target"), "kept\n");
  EXPECT_FALSE(std::filesystem::exists(folder.Path() + "new-lock"));
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
