#include <gtest/gtest.h>

#include <filesystem>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// /I through the real program: a folder name that could steer the unit fails with the reason on
// standard error; an odd but sound one gets a unit for the real program that systemd reads as
// meant. The unit's settings, the account and every refusal are the service control's test.
TEST(HostileFolder, InstallRefusesAFolderNameTheUnitCannotHold) {
  ProgramFolder folder;
  const std::string units = folder.Path() + "units/";
  std::filesystem::create_directories(units);
  const std::string unitPath = units + "TARVEL80ImportForOstrel.service";
  const std::tuple<std::string, int, std::string> rows[] = {
      {"x\nExecStartPre=/tmp/evil.sh\n", 1, "holds a control character (byte 0x0A at position"},
      {"l\xC3\xA5t \"q\" 'a' %n $HOME \\b", 0, ""},
  };
  for (const auto& [name, exitStatus, reason] : rows) {
    const std::string dir = folder.Path() + name + "/";
    std::filesystem::create_directories(dir);
    GatewayProcess install(
        folder, {"--headless", "--dir", dir, "/I"},
        {{"TARVEL80IMPORT_UNIT_DIR", units}, {"TARVEL80IMPORT_SYSTEMCTL", "true"}});
    EXPECT_EQ(install.WaitForExit(), exitStatus) << name;
    EXPECT_NE(install.StandardError().find(reason), std::string::npos) << install.StandardError();
    EXPECT_EQ(std::filesystem::exists(unitPath), exitStatus == 0) << name;
  }
  EXPECT_NE(
      ReadWholeFile(unitPath).find("\nExecStart=" + std::string(GATEWAY_EXECUTABLE) + " --dir "),
      std::string::npos);

  // systemd's own check, where systemd-analyze works here: a plain unit for the same program
  // must pass first, so that a failure can only come from the unit's settings.
  folder.Write("plain.service", "[Service]\nExecStart=" + std::string(GATEWAY_EXECUTABLE) + "\n");
  const auto plain = RunShell("systemd-analyze verify '" + folder.Path() + "plain.service'");
  if (plain.second != 0) GTEST_SKIP() << "systemd-analyze does not work here: " << plain.first;
  const auto verified = RunShell("systemd-analyze verify '" + unitPath + "'");
  EXPECT_EQ(verified.second, 0) << verified.first;
  for (const char* complaint : {"not UTF-8", "Unknown", "Failed", "ignoring", "Invalid", "rror"})
    EXPECT_EQ(verified.first.find(complaint), std::string::npos) << verified.first;
}

}  // namespace
}  // namespace tarvel::integration
