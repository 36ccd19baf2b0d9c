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
#include <sstream>

#include "platform/LinuxServiceControl.h"

namespace tarvel {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

// A program folder, a unit folder and a stand-in for systemctl that records its arguments.
class LinuxServiceControlTest : public ::testing::Test {
 protected:
  LinuxServiceControlTest() {
    char pattern[] = "/tmp/tarvel-service-XXXXXX";
    root_ = std::string(mkdtemp(pattern)) + "/";
    std::filesystem::create_directories(root_ + "my gateway");
    std::filesystem::create_directories(root_ + "units");
    programPath_ = root_ + "my gateway/";
    systemctl_ = root_ + "systemctl";
    std::ofstream(systemctl_) << "#!/bin/sh\necho \"$@\" >> '" << root_ << "calls'\n";
    std::filesystem::permissions(systemctl_, std::filesystem::perms::owner_all);
    setenv("TARVEL80IMPORT_UNIT_DIR", (root_ + "units").c_str(), 1);
    setenv("TARVEL80IMPORT_SYSTEMCTL", systemctl_.c_str(), 1);
  }
  ~LinuxServiceControlTest() override {
    unsetenv("TARVEL80IMPORT_SERVICE_USER");
    unsetenv("TARVEL80IMPORT_UNIT_DIR");
    unsetenv("TARVEL80IMPORT_SYSTEMCTL");
    std::filesystem::remove_all(root_);
  }
  std::string UnitFile() const { return root_ + "units/TARVEL80ImportForOstrel.service"; }

  std::string root_;
  std::string programPath_;
  std::string systemctl_;
};

TEST_F(LinuxServiceControlTest, InstallWritesAndEnablesTheUnitAndUninstallRemovesIt) {
  LinuxServiceControl service(programPath_, "/opt/tarvel 80/bin/tarvel80import");
  ASSERT_TRUE(service.Install());
  const std::string unit = ReadFile(UnitFile());
  for (const std::string& line :
       {"ExecStart=\"/opt/tarvel 80/bin/tarvel80import\" --dir \"" + programPath_ + "\"\n",
        std::string("Type=notify\n"), std::string("Restart=on-failure\n")})
    EXPECT_NE(unit.find(line), std::string::npos) << line << unit;
  ASSERT_TRUE(service.Uninstall());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_EQ(ReadFile(root_ + "calls"), "daemon-reload\nenable " + UnitFile() +
                                           "\ndisable TARVEL80ImportForOstrel.service\n"
                                           "daemon-reload\n");
  EXPECT_FALSE(service.Uninstall()) << "nothing left to uninstall";
}

// Each way /I can fail gives its reason after "failed to install as service" and leaves no unit.
using ServiceReason = LinuxServiceControlTest;
TEST_F(ServiceReason, InstallFailuresSayWhy) {
  const std::tuple<std::string, const char*, std::string> rows[] = {
      {"false", "", "false daemon-reload failed (exit status 1)"},
      {"/nonexistent/systemctl", "",
       "cannot run /nonexistent/systemctl: No such file or directory"},
      {"true", "no-such-user-x",
       "TARVEL80IMPORT_SERVICE_USER=no-such-user-x: not an account, or the program folder's "
       "files cannot be handed over to it"},
  };
  for (const auto& [systemctl, user, reason] : rows) {
    setenv("TARVEL80IMPORT_SYSTEMCTL", systemctl.c_str(), 1);
    setenv(LinuxServiceControl::ServiceUserVariable, user, 1);
    LinuxServiceControl service(programPath_, "/usr/bin/tarvel80import");
    EXPECT_FALSE(service.Install()) << reason;
    EXPECT_EQ(service.LastError(), reason);
    EXPECT_FALSE(std::filesystem::exists(UnitFile())) << reason;
  }
  setenv("TARVEL80IMPORT_UNIT_DIR", (root_ + "missing/folder").c_str(), 1);
  EXPECT_FALSE(LinuxServiceControl(programPath_, "/x").Install());
}

TEST_F(LinuxServiceControlTest, UnitConfinesTheServiceAndRunsItAsTheNamedUser) {
  const char* hardening[] = {
      "NoNewPrivileges=yes\n",      "ProtectSystem=strict\n",      "ProtectHome=read-only\n",
      "PrivateTmp=yes\n",           "ProtectKernelTunables=yes\n", "ProtectKernelModules=yes\n",
      "ProtectControlGroups=yes\n", "RestrictSUIDSGID=yes\n",      "RestrictRealtime=yes\n",
      "LockPersonality=yes\n",      "ReadWritePaths=-/run/lock\n",
  };
  // Settings that would close the serial devices or the program folder.
  const char* forbidden[] = {"DeviceAllow",     "PrivateDevices",    "ProtectClock", "DevicePolicy",
                             "ProtectHome=yes", "ProtectHome=tmpfs", "DynamicUser"};
  const struct Row {
    std::string folder;
    std::string user;
    std::string readWrite;
  } rows[] = {
      {programPath_, "", "ReadWritePaths=\"" + programPath_ + "\"\n"},
      {programPath_, "tarvel", "ReadWritePaths=\"" + programPath_ + "\"\n"},
      {"/home/alarm/tarvel/", "alarm", "ReadWritePaths=/home/alarm/tarvel/\n"},
      {"/srv/a%b$c/", "", "ReadWritePaths=/srv/a%%b$c/\n"},  // specifiers and variables
  };
  const bool dialout = getgrnam("dialout") != nullptr;
  for (const Row& row : rows) {
    setenv("TARVEL80IMPORT_SERVICE_USER", row.user.c_str(), 1);
    const std::string unit = LinuxServiceControl(row.folder, "/usr/bin/tarvel80import").UnitText();
    SCOPED_TRACE(unit);
    for (const char* line : hardening) EXPECT_NE(unit.find(line), std::string::npos) << line;
    for (const char* setting : forbidden)
      EXPECT_EQ(unit.find(setting), std::string::npos) << setting;
    EXPECT_NE(unit.find(row.readWrite), std::string::npos);
    // Every setting sits in the [Service] section.
    EXPECT_LT(unit.find("[Service]"), unit.find("NoNewPrivileges"));
    EXPECT_GT(unit.find("[Install]"), unit.find("LockPersonality"));
    const bool named = !row.user.empty();
    EXPECT_EQ(unit.find("User=" + row.user + "\n") != std::string::npos, named);
    EXPECT_EQ(unit.find("SupplementaryGroups=dialout\n") != std::string::npos, named && dialout);
  }
  EXPECT_NE(LinuxServiceControl("/srv/a%b$c/", "/usr/bin/tarvel80import")
                .UnitText()
                .find("ExecStart=/usr/bin/tarvel80import --dir /srv/a%%b$$c/\n"),
            std::string::npos);
}

TEST_F(LinuxServiceControlTest, InstallRefusesAUserNameThatIsNotAnAccount) {
  for (const char* user : {"no-such-user-tarvel80", "root\nExecStartPre=/bin/sh", "-root", ".x",
                           "a b", "toolongusername-toolongusername-x"}) {
    setenv("TARVEL80IMPORT_SERVICE_USER", user, 1);
    EXPECT_FALSE(LinuxServiceControl(programPath_, "/usr/bin/tarvel80import").Install()) << user;
    EXPECT_FALSE(std::filesystem::exists(UnitFile())) << user;
  }
  for (const char* name : {"tarvel", "tarvel-import", "svc_1.a", "Nobody"})
    EXPECT_TRUE(LinuxServiceControl::IsUserName(name)) << name;
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
  std::ofstream(root_ + "secret") << "x";
  std::filesystem::create_symlink(root_ + "secret", programPath_ + "LogFiles/link");
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
  EXPECT_EQ(owner(root_ + "secret"), 0u);
  EXPECT_EQ(owner(programPath_ + "TARVEL80Import.ini"), 0u)
      << "the configuration stays the admin's";
  EXPECT_NE(ReadFile(UnitFile()).find("User=nobody\n"), std::string::npos);
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
  EXPECT_EQ(ReadFile(programPath_ + "TARVEL80Import.service.ini"),
            "[Other]\nKey=v\n[Parameters]\nRunAsService=1\n");
  EXPECT_FALSE(std::filesystem::exists(programPath_ + "TARVEL80Import.service.ini.tmp"));
}

TEST_F(LinuxServiceControlTest, StartServiceTellsTheServiceManagerItIsReady) {
  for (const std::string& name : {root_ + "notify", "@tarvel-notify-" + std::to_string(getpid())}) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    name.copy(address.sun_path, name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';  // abstract
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
              0);
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    LinuxServiceControl(programPath_, "/x").StartService();
    char buffer[64] = {};
    const ssize_t received = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, received > 0 ? received : 0), "READY=1") << name;
    close(fd);
  }
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(LinuxServiceControl::NotifyServiceManager("READY=1"));
}

}  // namespace
}  // namespace tarvel
