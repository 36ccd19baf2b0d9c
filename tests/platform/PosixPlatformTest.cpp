// The POSIX platform's own files: the service registration and settings, and the running-copy lock.

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/posix/LinuxServiceControl.h"
#include "platform/posix/PosixProcessControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// A program folder, a unit folder and a stand-in for systemctl that records its arguments.
class LinuxServiceControlTest : public ::testing::Test {
 protected:
  LinuxServiceControlTest() {
    std::filesystem::create_directories(programPath_);
    std::filesystem::create_directories(root_.Path() + "units");
    root_.Write("systemctl", "#!/bin/sh\necho \"$@\" >> '" + root_.Path() + "calls'\n");
    std::filesystem::permissions(root_.Path() + "systemctl", std::filesystem::perms::owner_all);
    setenv("TARVEL80IMPORT_UNIT_DIR", (root_.Path() + "units").c_str(), 1);
    setenv("TARVEL80IMPORT_SYSTEMCTL", (root_.Path() + "systemctl").c_str(), 1);
  }
  ~LinuxServiceControlTest() override {
    for (const char* name :
         {"TARVEL80IMPORT_SERVICE_USER", "TARVEL80IMPORT_UNIT_DIR", "TARVEL80IMPORT_SYSTEMCTL"})
      unsetenv(name);
  }
  std::string UnitFile() const { return root_.Path() + "units/TARVEL80ImportForOstrel.service"; }
  LinuxServiceControl Service(const std::string& folder = "") const {
    return LinuxServiceControl(ProgramLayout::InFolder(folder.empty() ? programPath_ : folder),
                               "/usr/bin/tarvel80import");
  }

  TempFolder root_;
  std::string programPath_ = root_.Path() + "my gateway/";
};

// Each way /I can fail (systemctl, the account, a folder name that could steer the unit) says why.
TEST_F(LinuxServiceControlTest, InstallFailuresSayWhy) {
  const std::string control = "the program folder's path holds a control character (byte ";
  const std::string notUtf8 = "the program folder's path is not valid UTF-8 (byte ";
  const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
      {"my gateway", "false", "", "false daemon-reload failed (exit status 1)"},
      {"my gateway", "/nonexistent/systemctl", "",
       "cannot run /nonexistent/systemctl: No such file or directory"},
      {"my gateway", "true", "no-such-user-x",
       "TARVEL80IMPORT_SERVICE_USER=no-such-user-x: not an account, or the program folder's "
       "files cannot be handed over to it"},
      {"x\nExecStartPre=/tmp/evil.sh", "true", "", control + "0x0A at position"},
      {"c1\xC2\x85line", "true", "", control + "0x85"},  // U+0085, a line break to some readers
      {"l\xE5t", "true", "", notUtf8 + "0xE5 at position"},
      {"over\xC0\xAFlong", "true", "", notUtf8 + "0xC0"},  // an overlong "/"
  };
  for (const auto& [folder, systemctl, user, reason] : rows) {
    setenv("TARVEL80IMPORT_SYSTEMCTL", systemctl.c_str(), 1);
    setenv(LinuxServiceControl::ServiceUserVariable, user.c_str(), 1);
    LinuxServiceControl service = Service(root_.Path() + folder + "/");
    EXPECT_FALSE(service.Install()) << reason;
    EXPECT_EQ(service.LastError().substr(0, reason.size()), reason);
    EXPECT_FALSE(std::filesystem::exists(UnitFile())) << reason;
  }
  setenv("TARVEL80IMPORT_UNIT_DIR", (root_.Path() + "missing/folder").c_str(), 1);
  EXPECT_FALSE(Service().Install());
}

// /I that fails at its last step (enabling, or storing the service flag afterwards) leaves the
// registration as it found it: an earlier unit back in place and still enabled, else no unit and
// nothing enabled. Only a kept installation drops the earlier unit; /U removes it once.
TEST_F(LinuxServiceControlTest, FailedInstallPutsTheEarlierRegistrationBack) {
  const std::string enable = "daemon-reload\nenable " + UnitFile() + "\n";
  const std::string disable = "disable TARVEL80ImportForOstrel.service\n";
  struct Row {
    bool earlier, enableFails;
    std::optional<bool> keep;  // FinishInstall after a successful Install
    std::string unit, calls;   // unit: "earlier", "new" or "" for none
  } rows[] = {
      {true, false, false, "earlier", enable + "daemon-reload\n"},
      {false, false, false, "", enable + disable + "daemon-reload\n"},
      {true, true, std::nullopt, "earlier", enable + "daemon-reload\n"},
      {false, true, std::nullopt, "", enable + disable + "daemon-reload\n"},
      {true, false, true, "new", enable},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.calls + row.unit);
    std::filesystem::remove(UnitFile());
    std::filesystem::remove(root_.Path() + "calls");
    if (row.earlier) root_.Write("units/TARVEL80ImportForOstrel.service", "earlier");
    root_.Write("systemctl", "#!/bin/sh\necho \"$@\" >> '" + root_.Path() + "calls'\n" +
                                 (row.enableFails ? "[ \"$1\" != enable ]\n" : ""));
    LinuxServiceControl service = Service();
    ASSERT_EQ(service.Install(), !row.enableFails);
    if (row.keep) service.FinishInstall(*row.keep);
    const std::string unit = root_.ReadFile("units/TARVEL80ImportForOstrel.service");  // or none
    EXPECT_EQ(unit, row.unit == "new" ? service.UnitText() : row.unit);
    EXPECT_EQ(root_.ReadFile("calls"), row.calls);
    const auto units = std::filesystem::directory_iterator(root_.Path() + "units");
    EXPECT_EQ(std::distance(begin(units), end(units)), row.unit.empty() ? 0 : 1)
        << "nothing else left in the unit folder";
    if (row.enableFails) {
      EXPECT_EQ(service.LastError(), root_.Path() + "systemctl enable failed (exit status 1)");
    }
  }
  LinuxServiceControl service = Service();
  ASSERT_TRUE(service.Uninstall());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_EQ(root_.ReadFile("calls"), enable + disable + "daemon-reload\n");
  EXPECT_FALSE(service.Uninstall()) << "nothing left to uninstall";
}

// Program and folder written so systemd expands no specifier, variable or space; the account.
TEST_F(LinuxServiceControlTest, UnitQuotesTheFolderAndRunsAsTheNamedUser) {
  const std::string quoted = "\"" + programPath_ + "\"";
  const std::string exec = "ExecStart=\"/opt/tarvel 80/tarvel80import\" --dir ";
  const std::tuple<std::string, ProgramLayout, std::vector<std::string>> rows[] = {
      {"",
       ProgramLayout::InFolder(programPath_),
       {exec + quoted + "\n", "ReadWritePaths=" + quoted + "\n"}},
      {"tarvel",
       ProgramLayout::InFolder("/srv/a%b$c/"),
       {exec + "/srv/a%%b$$c/\n", "ReadWritePaths=/srv/a%%b$c/\n", "User=tarvel\n"}},
      // The service keeps the layout it was installed from; it writes in both folders.
      {"",
       {"/var/lib/t/", "/etc/t/north.ini", "/var/log/t/"},
       {exec + "/var/lib/t/ --config /etc/t/north.ini --log-dir /var/log/t/\n",
        "ReadWritePaths=/var/lib/t/\nReadWritePaths=/var/log/t/\n"}},
  };
  for (const auto& [user, layout, lines] : rows) {
    setenv("TARVEL80IMPORT_SERVICE_USER", user.c_str(), 1);
    const std::string unit =
        LinuxServiceControl(layout, "/opt/tarvel 80/tarvel80import").UnitText();
    for (const std::string& line : lines)
      EXPECT_NE(unit.find(line), std::string::npos) << line << unit;
    EXPECT_EQ(unit.find("\nUser=") != std::string::npos, !user.empty()) << unit;
    EXPECT_EQ(unit.find("SupplementaryGroups=dialout\n") != std::string::npos,
              !user.empty() && getgrnam("dialout") != nullptr);
  }
}

// An odd but sound folder name gets a unit that systemd-analyze passes (where a plain one passes).
TEST_F(LinuxServiceControlTest, SystemdReadsTheUnitOfAnOddFolderName) {
  const auto verify = [&](const std::string& unit) {
    const int status = std::system(
        ("systemd-analyze verify '" + unit + "' >'" + root_.Path() + "out' 2>&1").c_str());
    return std::pair(root_.ReadFile("out"), status);
  };
  root_.Write("plain.service", "[Service]\nExecStart=/bin/true\n");
  const auto plain = verify(root_.Path() + "plain.service");
  if (plain.second != 0) GTEST_SKIP() << "systemd-analyze does not work here: " << plain.first;
  const std::string folder = root_.Path() + "l\xC3\xA5t \"q\" 'a' %n $HOME \\b/";
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(LinuxServiceControl(ProgramLayout::InFolder(folder), "/bin/true").Install());
  const auto verified = verify(UnitFile());
  EXPECT_EQ(verified.second, 0) << verified.first;
  for (const char* complaint : {"not UTF-8", "Unknown", "Failed", "ignoring", "Invalid", "rror"})
    EXPECT_EQ(verified.first.find(complaint), std::string::npos) << verified.first;
}

// /I as root hands the log folder and lock to the account, never the target of a planted link.
TEST_F(LinuxServiceControlTest, InstallHandsTheProgramsFilesToTheServiceUser) {
  if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no account nobody";
  std::filesystem::create_directories(programPath_ + "LogFiles");
  std::ofstream(programPath_ + "LogFiles/20170607.Log") << "x";
  std::ofstream(programPath_ + "TARVEL80Import.lock");
  std::ofstream(programPath_ + "TARVEL80Import.ini") << "[General]\n";
  root_.Write("secret", "x");
  std::filesystem::create_symlink(root_.Path() + "secret", programPath_ + "LogFiles/link");
  setenv("TARVEL80IMPORT_SERVICE_USER", "nobody", 1);

  ASSERT_TRUE(Service().Install());

  auto owner = [](const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_uid;
  };
  for (const char* name :
       {"LogFiles", "LogFiles/20170607.Log", "TARVEL80Import.lock", "LogFiles/link"})
    EXPECT_EQ(owner(programPath_ + name), nobody->pw_uid) << name;
  EXPECT_EQ(owner(root_.Path() + "secret"), 0u);
  EXPECT_EQ(owner(programPath_ + "TARVEL80Import.ini"), 0u)
      << "the configuration stays the admin's";
}

// Kept across instances, read only up to their bound, and never written through a link.
TEST_F(LinuxServiceControlTest, SettingsStoreKeepsItsValuesAcrossInstances) {
  {
    LinuxServiceControl service = Service();
    EXPECT_EQ(service.GetSetting("Parameters", "RunAsService", "0"), "0");
    service.SaveSetting("Parameters", "RunAsService", "1");
    service.SaveSetting("Other", "Key", "v");
    service.SaveSetting("parameters", "runasservice", "1");
  }
  EXPECT_EQ(Service().GetSetting("PARAMETERS", "RunAsService", "0"), "1");
  EXPECT_EQ(Service().GetSetting("Other", "Key", ""), "v");
  EXPECT_EQ(tools::ReadWholeFile(programPath_ + "TARVEL80Import.service.ini"),
            "[Other]\nKey=v\n[Parameters]\nRunAsService=1\n");
  EXPECT_FALSE(std::filesystem::exists(programPath_ + "TARVEL80Import.service.ini.tmp"));
  // Read only up to their bound: a value past it is not seen.
  root_.Write("my gateway/TARVEL80Import.service.ini",
              "[Parameters]\n" + std::string(1 << 20, ';') + "\nRunAsService=1\n");
  EXPECT_EQ(Service().GetSetting("Parameters", "RunAsService", "0"), "0");
  // A link put at the temporary file's name is not written through.
  root_.Write("target", "kept\n");
  const std::string temporary = programPath_ + LinuxServiceControl::SettingsFileName + ".tmp";
  std::filesystem::create_symlink(root_.Path() + "target", temporary);
  LinuxServiceControl linked = Service();
  EXPECT_FALSE(linked.SaveSetting("Parameters", "RunAsService", "1"));
  EXPECT_EQ(linked.LastError().rfind("cannot store RunAsService: ", 0), 0u) << linked.LastError();
  EXPECT_EQ(root_.ReadFile("target"), "kept\n");
  EXPECT_TRUE(std::filesystem::is_symlink(temporary));
}

// Whether another process can take the folder's lock (flock locks belong to the open file).
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
