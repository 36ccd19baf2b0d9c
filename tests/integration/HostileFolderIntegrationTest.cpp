#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// Kilobytes of the process's resident memory, or -1.
long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// The INI file is read once at start-up; a large one must not stay in memory afterwards.
TEST(HostileFolder, LargeIniFileIsGivenBackAfterStartUp) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
#endif
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  std::string ini = "[General]\nOstrelPort=" + std::to_string(ostrelPort) + "\n[Junk]\n";
  const std::string value(1000, 'v');
  for (int key = 0; ini.size() < 10'000'000; ++key)
    ini += "K" + std::to_string(key) + "=" + value + "\n";
  folder.Write("TARVEL80Import.ini", ini);
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  ASSERT_TRUE(WaitUntil([&] { return !PortIsFree(ostrelPort); }, 30000ms))
      << gateway.StandardError();
  // Normally about 20 MB; each copy of the file's values kept would add 10 MB. Start-up goes on
  // after the listener opens, so the memory is watched until it has settled.
  long resident = -1;
  EXPECT_TRUE(
      WaitUntil([&] { return (resident = ResidentKilobytes(gateway.Pid())) < 60'000; }, 10000ms))
      << resident << " kB resident";
}

std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// /I in a folder whose name could steer the unit fails with the reason and writes no unit;
// an odd but sound name is quoted so that systemd reads the unit as meant.
TEST(HostileFolder, InstallRefusesAFolderNameTheUnitCannotHold) {
  ProgramFolder folder;
  const std::string units = folder.Path() + "units/";
  std::filesystem::create_directories(units);
  const std::string unit = units + "TARVEL80ImportForOstrel.service";
  const struct Row {
    std::string name;
    int exitStatus;
    std::string reason;
  } rows[] = {
      {"x\nExecStartPre=/tmp/evil.sh\n", 1, "holds a control character (byte 0x0A at position"},
      {"l\xE5t", 1, "is not valid UTF-8 (byte 0xE5 at position"},
      {"l\xC3\xA5t \"q\" 'a' %n $HOME \\b", 0, ""},
  };
  for (const Row& row : rows) {
    const std::string dir = folder.Path() + row.name;
    std::filesystem::create_directories(dir);
    GatewayProcess install(
        folder, {"--headless", "--dir", dir, "/I"},
        {{"TARVEL80IMPORT_UNIT_DIR", units}, {"TARVEL80IMPORT_SYSTEMCTL", "true"}});
    EXPECT_EQ(install.WaitForExit(), row.exitStatus) << row.name;
    EXPECT_NE(install.StandardError().find(row.reason), std::string::npos)
        << install.StandardError();
    EXPECT_EQ(std::filesystem::exists(unit), row.exitStatus == 0) << row.name;
  }
  if (RunShell("command -v systemd-analyze").second != 0) GTEST_SKIP() << "no systemd-analyze";
  const auto verified = RunShell("systemd-analyze verify '" + unit + "'");
  // Only the unit's own settings count: a machine without a running systemd may complain about
  // other things, so the texts that name a bad setting are checked.
  for (const char* complaint : {"not UTF-8", "Unknown key", "ignoring", "Invalid"})
    EXPECT_EQ(verified.first.find(complaint), std::string::npos) << verified.first;
}

}  // namespace
}  // namespace tarvel::integration
