#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/LinuxServiceControl.h"
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
    for (const char* name : {"TARVEL80IMPORT_SERVICE_USER", "TARVEL80IMPORT_UNIT_DIR",
                             "TARVEL80IMPORT_SYSTEMCTL", "NOTIFY_SOCKET"})
      unsetenv(name);
  }
  std::string UnitFile() const { return root_.Path() + "units/TARVEL80ImportForOstrel.service"; }

  TempFolder root_;
  std::string programPath_ = root_.Path() + "my gateway/";
};

TEST_F(LinuxServiceControlTest, InstallWritesAndEnablesTheUnitAndUninstallRemovesIt) {
  LinuxServiceControl service(programPath_, "/opt/tarvel 80/bin/tarvel80import");
  ASSERT_TRUE(service.Install());
  const std::string unit = tools::ReadWholeFile(UnitFile());
  for (const std::string& line :
       {"ExecStart=\"/opt/tarvel 80/bin/tarvel80import\" --dir \"" + programPath_ + "\"\n",
        std::string("Type=notify\n"), std::string("Restart=on-failure\n")})
    EXPECT_NE(unit.find(line), std::string::npos) << line << unit;
  ASSERT_TRUE(service.Uninstall());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_EQ(root_.ReadFile("calls"), "daemon-reload\nenable " + UnitFile() +
                                         "\ndisable TARVEL80ImportForOstrel.service\n"
                                         "daemon-reload\n");
  EXPECT_FALSE(service.Uninstall()) << "nothing left to uninstall";
}

// Each way /I can fail gives its reason after "failed to install as service" and leaves no unit:
// the service manager, the account, and a folder name that could steer the unit.
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
    LinuxServiceControl service(root_.Path() + folder + "/", "/usr/bin/tarvel80import");
    EXPECT_FALSE(service.Install()) << reason;
    EXPECT_EQ(service.LastError().substr(0, reason.size()), reason);
    EXPECT_FALSE(std::filesystem::exists(UnitFile())) << reason;
  }
  setenv("TARVEL80IMPORT_UNIT_DIR", (root_.Path() + "missing/folder").c_str(), 1);
  EXPECT_FALSE(LinuxServiceControl(programPath_, "/x").Install());
  for (const auto& [name, valid] : std::initializer_list<std::pair<const char*, bool>>{
           {"tarvel", true},
           {"svc_1.a-b", true},
           {"Nobody", true},
           {"root\nExecStartPre=/x", false},
           {"-root", false},
           {".x", false},
           {"a b", false},
           {"toolongusername-toolongusername-x", false}})
    EXPECT_EQ(LinuxServiceControl::IsUserName(name), valid) << name;
}

// The folder the service may write and the account it runs as; the confining lines themselves
// are constants, and systemd's own check of the whole unit is the hostile-folder test's.
TEST_F(LinuxServiceControlTest, UnitConfinesTheServiceAndRunsItAsTheNamedUser) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {programPath_, "", "ReadWritePaths=\"" + programPath_ + "\"\n"},
      {programPath_, "tarvel", "ReadWritePaths=\"" + programPath_ + "\"\n"},
      {"/srv/a%b$c/", "", "ReadWritePaths=/srv/a%%b$c/\n"},  // specifiers and variables
  };
  const bool dialout = getgrnam("dialout") != nullptr;
  for (const auto& [folder, user, readWrite] : rows) {
    setenv("TARVEL80IMPORT_SERVICE_USER", user.c_str(), 1);
    const std::string unit = LinuxServiceControl(folder, "/usr/bin/tarvel80import").UnitText();
    SCOPED_TRACE(unit);
    EXPECT_NE(unit.find(readWrite), std::string::npos);
    // Every setting sits in the [Service] section.
    EXPECT_LT(unit.find("[Service]"), unit.find("NoNewPrivileges"));
    EXPECT_GT(unit.find("[Install]"), unit.find("LockPersonality"));
    EXPECT_EQ(unit.find("User=" + user + "\n") != std::string::npos, !user.empty());
    EXPECT_EQ(unit.find("SupplementaryGroups=dialout\n") != std::string::npos,
              !user.empty() && dialout);
  }
  EXPECT_NE(LinuxServiceControl("/srv/a%b$c/", "/usr/bin/tarvel80import")
                .UnitText()
                .find("ExecStart=/usr/bin/tarvel80import --dir /srv/a%%b$$c/\n"),
            std::string::npos);
}

// /I runs as root and has made the log folder and the lock; the service account gets them,
// but never the target of a link planted in the log folder.
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

  ASSERT_TRUE(LinuxServiceControl(programPath_, "/usr/bin/tarvel80import").Install());

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
  EXPECT_NE(tools::ReadWholeFile(UnitFile()).find("User=nobody\n"), std::string::npos);
}

TEST_F(LinuxServiceControlTest, SettingsStoreKeepsItsValuesAcrossInstances) {
  {
    LinuxServiceControl service(programPath_, "/x");
    EXPECT_EQ(service.GetSetting("Parameters", "RunAsService", "0"), "0");
    service.SaveSetting("Parameters", "RunAsService", "1");
    service.SaveSetting("Other", "Key", "v");
    service.SaveSetting("parameters", "runasservice", "1");
  }
  LinuxServiceControl later(programPath_, "/x");
  EXPECT_EQ(later.GetSetting("PARAMETERS", "RunAsService", "0"), "1");
  EXPECT_EQ(later.GetSetting("Other", "Key", ""), "v");
  EXPECT_EQ(later.GetSetting("Parameters", "Missing", "d"), "d");
  EXPECT_EQ(tools::ReadWholeFile(programPath_ + "TARVEL80Import.service.ini"),
            "[Other]\nKey=v\n[Parameters]\nRunAsService=1\n");
  EXPECT_FALSE(std::filesystem::exists(programPath_ + "TARVEL80Import.service.ini.tmp"));
  // Read only up to their bound: a value past it is not seen. (Anything but a regular file in
  // their place is the INI reader's test; the settings go through that reader.)
  root_.Write("my gateway/TARVEL80Import.service.ini",
              "[Parameters]\n" + std::string(1 << 20, ';') + "\nRunAsService=1\n");
  EXPECT_EQ(LinuxServiceControl(programPath_, "/x").GetSetting("Parameters", "RunAsService", "0"),
            "0");
}

// A socket path is what the service's integration test shows; here an abstract name.
TEST_F(LinuxServiceControlTest, StartServiceTellsTheServiceManagerItIsReady) {
  const std::string name = "@tarvel-notify-" + std::to_string(getpid());
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{AF_UNIX, {}};
  name.copy(address.sun_path + 1, name.size() - 1, 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
            0);
  setenv("NOTIFY_SOCKET", name.c_str(), 1);
  LinuxServiceControl(programPath_, "/x").StartService();
  char buffer[64] = {};
  const ssize_t received = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  EXPECT_EQ(std::string(buffer, received > 0 ? received : 0), "READY=1");
  close(fd);
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(LinuxServiceControl::NotifyServiceManager("READY=1"));
}

}  // namespace
}  // namespace tarvel
