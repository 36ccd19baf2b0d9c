#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// /I and /U against a unit folder of the test's own; "true" stands in for systemctl so the
// machine's service manager is never touched. The unit's text is the service control's test.
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
  EXPECT_NE(ReadWholeFile(unitPath).find(" --dir " + folder.Path() + "\n"), std::string::npos);
  EXPECT_NE(ReadWholeFile(settingsPath).find("RunAsService=1"), std::string::npos);
  EXPECT_TRUE(folder.LogLines().empty());

  GatewayProcess uninstall(folder, {"--dir", folder.Path(), "/I", "/U"}, environment);
  EXPECT_EQ(uninstall.WaitForExit(), 0);
  EXPECT_EQ(uninstall.StandardError(),
            "TARVEL80 Import for Ostrel service uninstalled successfully\n");
  EXPECT_FALSE(std::filesystem::exists(unitPath));
  EXPECT_NE(ReadWholeFile(settingsPath).find("RunAsService=0"), std::string::npos);
}

TEST(Service, StopRequestWritesExactlyOneLineWithReason1) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.service.ini", "[Parameters]\nRunAsService=1\n");
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
  GatewayProcess service(folder, {"--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage("TARVEL80 Import for Ostrel is starting, version 1.0.04"))
      << service.StandardError();
  service.Signal(SIGTERM);
  EXPECT_EQ(service.WaitForExit(), 0);
  EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason 1");
}

}  // namespace
}  // namespace tarvel::integration
