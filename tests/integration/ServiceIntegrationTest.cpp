#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";

// /I and /U against a unit folder of the test's own; "true" stands in for systemctl so the
// machine's service manager is never touched.
TEST(Service, InstallAndUninstallRegisterTheServiceAndStoreTheFlag) {
  ProgramFolder folder;
  ProgramFolder units;
  const std::map<std::string, std::string> environment{{"TARVEL80IMPORT_UNIT_DIR", units.Path()},
                                                       {"TARVEL80IMPORT_SYSTEMCTL", "true"}};
  const std::string unitPath = units.Path() + "TARVEL80ImportForOstrel.service";
  const std::string settingsPath = folder.Path() + "TARVEL80Import.service.ini";

  GatewayProcess install(folder, {"--headless", "--dir", folder.Path(), "/i"}, environment);
  EXPECT_EQ(install.WaitForExit(), 0);
  EXPECT_EQ(install.StandardError(), "TARVEL80 Import for Ostrel service installation succeeded\n");
  const std::string unit = ReadWholeFile(unitPath);
  EXPECT_NE(unit.find("Description=TARVEL80 Import for Ostrel\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find(" --dir " + folder.Path() + "\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("ExecStart=/"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos) << unit;
  EXPECT_NE(ReadWholeFile(settingsPath).find("RunAsService=1"), std::string::npos);
  EXPECT_TRUE(folder.LogLines().empty());

  GatewayProcess uninstall(folder, {"--dir", folder.Path(), "/I", "/U"}, environment);
  EXPECT_EQ(uninstall.WaitForExit(), 0);
  EXPECT_EQ(uninstall.StandardError(),
            "TARVEL80 Import for Ostrel service uninstalled successfully\n");
  EXPECT_FALSE(std::filesystem::exists(unitPath));
  EXPECT_NE(ReadWholeFile(settingsPath).find("RunAsService=0"), std::string::npos);

  GatewayProcess again(folder, {"--dir", folder.Path(), "/U"}, environment);
  const auto status = again.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_EQ(again.StandardError(),
            "TARVEL80 Import for Ostrel failed to uninstall as service: no "
            "unit file " +
                unitPath + ": No such file or directory\n");
  EXPECT_NE(ReadWholeFile(settingsPath).find("RunAsService=0"), std::string::npos);
}

TEST(Service, InstallIntoAFolderThatCannotBeWrittenFails) {
  ProgramFolder folder;
  GatewayProcess install(folder, {"--dir", folder.Path(), "/I"},
                         {{"TARVEL80IMPORT_UNIT_DIR", folder.Path() + "no/such/folder"},
                          {"TARVEL80IMPORT_SYSTEMCTL", "true"}});
  const auto status = install.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_EQ(install.StandardError(),
            "TARVEL80 Import for Ostrel failed to install as service: cannot write " +
                folder.Path() +
                "no/such/folder/TARVEL80ImportForOstrel.service: No such file or "
                "directory\n");
  EXPECT_FALSE(std::filesystem::exists(folder.Path() + "TARVEL80Import.service.ini"));
}

TEST(Service, StopRequestWritesExactlyOneLineWithReason1) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.service.ini", "[Parameters]\nRunAsService=1\n");
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
  GatewayProcess service(folder, {"--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << service.StandardError();

  service.Signal(SIGTERM);

  EXPECT_EQ(service.WaitForExit(), 0);
  EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason 1");
}

TEST(Service, SecondCopyBesideTheServiceEndsSilently) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.service.ini", "[Parameters]\nRunAsService=1\n");
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
  GatewayProcess service(folder, {"--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage(StartLine));
  GatewayProcess second(folder, {"--dir", folder.Path()});
  const auto status = second.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_EQ(second.StandardError(), "");
}

}  // namespace
}  // namespace tarvel::integration
