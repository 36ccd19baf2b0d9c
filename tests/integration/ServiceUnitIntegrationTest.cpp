#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// The output and exit status of a shell command.
std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// An account to run the service as: one that is not ours needs root to hand files over.
std::string ServiceUser() {
  if (geteuid() == 0 && getpwnam("nobody") != nullptr) return "nobody";
  const passwd* self = getpwuid(geteuid());
  return self == nullptr ? "" : self->pw_name;
}

TEST(ServiceUnit, InstallWritesAHardenedUnitForTheNamedUserThatSystemdAccepts) {
  const std::string user = ServiceUser();
  if (user.empty()) GTEST_SKIP() << "no account name for this process";
  ProgramFolder folder;
  const std::string units = folder.Path() + "units/";
  std::filesystem::create_directories(units);
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=1\n");
  GatewayProcess install(folder, {"--headless", "--dir", folder.Path(), "/I"},
                         {{"TARVEL80IMPORT_UNIT_DIR", units},
                          {"TARVEL80IMPORT_SYSTEMCTL", "true"},
                          {"TARVEL80IMPORT_SERVICE_USER", user}});
  ASSERT_EQ(install.WaitForExit(), 0) << install.StandardError();

  const std::string unitPath = units + "TARVEL80ImportForOstrel.service";
  const std::string unit = ReadWholeFile(unitPath);
  // The hardening itself is the service control's test; here the real paths and account.
  for (const std::string& line :
       {"ExecStart=" + std::string(GATEWAY_EXECUTABLE) + " --dir " + folder.Path(), "User=" + user,
        "ReadWritePaths=" + folder.Path()})
    EXPECT_NE(unit.find("\n" + line + "\n"), std::string::npos) << line << "\n" << unit;
  struct stat info {};
  ASSERT_EQ(stat((folder.Path() + "LogFiles").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, getpwnam(user.c_str())->pw_uid) << "the service can write its log";

  // systemd's own check, where systemd-analyze works here: a plain unit for the same program
  // must pass first, so that a failure can only come from the unit's settings.
  if (RunShell("command -v systemd-analyze").second != 0) GTEST_SKIP() << "no systemd-analyze";
  const std::string plainPath = folder.Path() + "plain.service";
  folder.Write("plain.service", "[Service]\nExecStart=" + std::string(GATEWAY_EXECUTABLE) +
                                    "\n[Install]\nWantedBy=multi-user.target\n");
  const auto plain = RunShell("systemd-analyze verify '" + plainPath + "'");
  if (plain.second != 0) GTEST_SKIP() << "systemd-analyze does not work here: " << plain.first;
  const auto verified = RunShell("systemd-analyze verify '" + unitPath + "'");
  EXPECT_EQ(verified.second, 0) << verified.first;
  for (const char* complaint : {"Unknown", "Failed", "ignoring", "rror"})
    EXPECT_EQ(verified.first.find(complaint), std::string::npos) << verified.first;
}

}  // namespace
}  // namespace tarvel::integration
