#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/LinuxServiceControl.h"
#include "platform/PosixProcessControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// The service layer over a temporary program folder and unit folder, systemctl stood in by true.
class FolderSafetyTest : public ::testing::Test {
 protected:
  FolderSafetyTest() {
    std::filesystem::create_directory(folder_.Path() + "units");
    setenv("TARVEL80IMPORT_UNIT_DIR", (folder_.Path() + "units").c_str(), 1);
    setenv("TARVEL80IMPORT_SYSTEMCTL", "true", 1);
  }
  ~FolderSafetyTest() override {
    unsetenv("TARVEL80IMPORT_UNIT_DIR");
    unsetenv("TARVEL80IMPORT_SYSTEMCTL");
  }
  std::string UnitFile() const { return folder_.Path() + "units/TARVEL80ImportForOstrel.service"; }

  TempFolder folder_;
};

// A folder name that could add a setting of its own to the unit, or that systemd would reject,
// makes /I fail and writes no unit; any other odd name is quoted into the unit.
TEST_F(FolderSafetyTest, InstallRefusesAFolderNameTheUnitCannotHoldSafely) {
  const struct Row {
    std::string name;
    bool installs;
  } rows[] = {
      {"x\nExecStartPre=/tmp/evil.sh\n", false},
      {"x\rExecStartPre=/tmp/evil.sh", false},
      {"tab\there", false},
      {"esc\x1B", false},
      {"l\xE5t", false},            // Latin-1, not UTF-8
      {"over\xC0\xAFlong", false},  // an overlong "/"
      {"c1\xC2\x85line", false},    // U+0085, a line break to some readers
      {"l\xC3\xA5t \"q\" 'a' %n $HOME \\b", true},
  };
  for (const Row& row : rows) {
    const std::string programPath = folder_.Path() + row.name + "/";
    std::filesystem::create_directories(programPath);
    LinuxServiceControl service(programPath, "/usr/bin/tarvel80import");
    EXPECT_EQ(service.Install(), row.installs) << row.name;
    EXPECT_EQ(std::filesystem::exists(UnitFile()), row.installs) << row.name;
    std::filesystem::remove(UnitFile());
  }
}

// Links put at the names the program writes are never written through: the temporary
// settings file, the lock file.
TEST_F(FolderSafetyTest, LinkAtTheSettingsTemporaryOrLockIsNotFollowed) {
  const std::string target = folder_.Path() + "target";
  std::ofstream(target) << "kept\n";
  const std::string temporary = folder_.Path() + LinuxServiceControl::SettingsFileName + ".tmp";
  std::filesystem::create_symlink(target, temporary);
  std::filesystem::create_symlink(folder_.Path() + "new-lock",
                                  folder_.Path() + PosixProcessControl::LockFileName);
  LinuxServiceControl(folder_.Path(), "/x").SaveSetting("Parameters", "RunAsService", "1");
  PosixProcessControl process;
  process.TakeRunningCopyLock(folder_.Path());
  std::ifstream kept(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept\n");
  EXPECT_FALSE(std::filesystem::exists(folder_.Path() + "new-lock"));
  EXPECT_TRUE(std::filesystem::is_symlink(temporary));
}

// Run in a child, so that a reader that hangs or runs away ends the child, not the test run:
// exits with 0 when the setting reads as its default.
[[noreturn]] void ReadRunAsServiceAndExit(const std::string& programPath) {
  alarm(10);
#if !defined(__SANITIZE_ADDRESS__)
  const rlimit memory{rlim_t{1} << 30, rlim_t{1} << 30};
  setrlimit(RLIMIT_AS, &memory);
#endif
  LinuxServiceControl service(programPath, "/x");
  _exit(service.GetSetting("Parameters", "RunAsService", "0") == "0" ? 0 : 1);
}

// The settings file is read only when it is a regular file, and only so far: a pipe must not
// hang the start, a device must not be read until memory runs out.
TEST_F(FolderSafetyTest, SettingsAreReadOnlyFromABoundedRegularFile) {
  const std::string settings = folder_.Path() + LinuxServiceControl::SettingsFileName;
  const struct Row {
    const char* name;
    void (*make)(const std::string& path);
  } rows[] = {
      {"pipe", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
      {"link to /dev/zero",
       [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); }},
      {"a value past the bound",
       [](const std::string& path) {
         std::ofstream(path) << "[Parameters]\n"
                             << std::string(1 << 20, ';') << "\nRunAsService=1\n";
       }},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(settings);
    row.make(settings);
    EXPECT_EXIT(ReadRunAsServiceAndExit(folder_.Path()), ::testing::ExitedWithCode(0), "")
        << row.name;
  }
}

}  // namespace
}  // namespace tarvel
