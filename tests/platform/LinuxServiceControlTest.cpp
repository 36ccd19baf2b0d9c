#include <gtest/gtest.h>
#include <sys/socket.h>
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

// A program folder, a unit folder and a stand-in for systemctl that records its arguments and
// fails when the file "fail" exists in the unit folder.
class LinuxServiceControlTest : public ::testing::Test {
 protected:
  LinuxServiceControlTest() {
    char pattern[] = "/tmp/tarvel-service-XXXXXX";
    root_ = std::string(mkdtemp(pattern)) + "/";
    std::filesystem::create_directories(root_ + "my gateway");
    std::filesystem::create_directories(root_ + "units");
    programPath_ = root_ + "my gateway/";
    systemctl_ = root_ + "systemctl";
    std::ofstream(systemctl_) << "#!/bin/sh\necho \"$@\" >> '" << root_ << "calls'\n[ ! -e '"
                              << root_ << "units/fail' ]\n";
    std::filesystem::permissions(systemctl_, std::filesystem::perms::owner_all);
    setenv("TARVEL80IMPORT_UNIT_DIR", (root_ + "units").c_str(), 1);
    setenv("TARVEL80IMPORT_SYSTEMCTL", systemctl_.c_str(), 1);
  }
  ~LinuxServiceControlTest() override {
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
  EXPECT_NE(unit.find("Description=TARVEL80 Import for Ostrel\n"), std::string::npos);
  EXPECT_NE(
      unit.find("ExecStart=\"/opt/tarvel 80/bin/tarvel80import\" --dir \"" + programPath_ + "\"\n"),
      std::string::npos)
      << unit;
  for (const char* line : {"Type=notify\n", "Restart=on-failure\n", "WantedBy=multi-user.target\n"})
    EXPECT_NE(unit.find(line), std::string::npos) << line;

  ASSERT_TRUE(service.Uninstall());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_EQ(ReadFile(root_ + "calls"), "daemon-reload\nenable " + UnitFile() +
                                           "\ndisable TARVEL80ImportForOstrel.service\n"
                                           "daemon-reload\n");
  EXPECT_FALSE(service.Uninstall()) << "nothing left to uninstall";
}

TEST_F(LinuxServiceControlTest, FailingSystemctlMakesInstallFailAndLeavesNoUnit) {
  std::ofstream(root_ + "units/fail");
  LinuxServiceControl service(programPath_, "/usr/bin/tarvel80import");
  EXPECT_FALSE(service.Install());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));

  setenv("TARVEL80IMPORT_UNIT_DIR", (root_ + "missing/folder").c_str(), 1);
  EXPECT_FALSE(service.Install());
}

TEST_F(LinuxServiceControlTest, UnitExecStartEscapesSpecifiersAndVariables) {
  LinuxServiceControl service("/srv/a%b$c/", "/usr/bin/tarvel80import");
  EXPECT_NE(service.UnitText().find("ExecStart=/usr/bin/tarvel80import --dir /srv/a%%b$$c/\n"),
            std::string::npos);
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
  for (bool abstract : {false, true}) {
    const std::string name =
        abstract ? "@tarvel-notify-" + std::to_string(getpid()) : root_ + "notify";
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    name.copy(address.sun_path, name.size());
    if (abstract) address.sun_path[0] = '\0';
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
