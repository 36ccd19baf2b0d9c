// The executable as its users start it: --check, bad configuration files, the display, and
// hostile folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "integration/GatewayProcess.h"
#include "support/SingleLineMessage.h"

namespace tarvel::integration {
namespace {

// --version is the package test's.
TEST(Check, ReportsEveryFindingAndExitsWithOneOnErrors) {
  ProgramFolder folder;
  const std::string ini = folder.Path() + "TARVEL80Import.ini";
  const std::string error = "Configuration error: [General] ";
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"OstrelPort=fourteen\n[TARVEL80_Port_2]\nPortType=TCPSS\n",
       error + "OstrelPort: not a port number (expected a whole number from 1 to 65535) "
               "\"fourteen\"\nConfiguration warning: [TARVEL80_Port_2] PortType=TCPSS: unknown "
               "port type (expected COM, TCPS or TCPC); the port is not used\n",
       "1 error, 1 warning"},
      {"KeepFile=LogFiles/..//TARVEL80Import.ini\n",
       error + "KeepFile: is the configuration file " + ini +
           "; the keep file needs a name of its own \"LogFiles/..//TARVEL80Import.ini\"\n",
       "1 error, 0 warnings"},
      {"KeepFile=notes.txt\n",
       error + "KeepFile: the file there is not a keep file (it does not start with the keep "
               "header) and is not written over \"notes.txt\"\n",
       "1 error, 0 warnings"},
      {"KeepFile=kept.txt\n", "", "0 errors, 0 warnings"},
  };
  folder.Write("notes.txt", "Call the fire brigade first\n");
  const std::string check = std::string(GATEWAY_EXECUTABLE) + " --check --dir " + folder.Path();
  for (const auto& [keys, findings, summary] : rows) {
    folder.Write("TARVEL80Import.ini", "[General]\n" + keys);
    EXPECT_EQ(RunShell(check),
              std::pair(findings + ini + ": " + summary + "\n", findings.empty() ? 0 : 1));
  }
  EXPECT_TRUE(folder.LogLines().empty());  // the check writes no log
  const std::string missing = "the program folder " + folder.Path() + "missing/ does not exist\n";
  EXPECT_EQ(RunShell(check + "missing"), std::pair("Configuration error: " + missing, 1));
  GatewayProcess start(folder, {"--headless", "--dir", folder.Path() + "missing"});
  EXPECT_EQ(start.WaitForExit(), 1);
  EXPECT_EQ(start.StandardError(), "tarvel80import: " + missing);
  GatewayProcess wrong(folder, {"--no-such-option"});
  EXPECT_EQ(wrong.WaitForExit(), 2);
  EXPECT_NE(wrong.StandardError().find("Usage:"), std::string::npos);
  // Without --dir the program folder is the executable's, also when found through PATH.
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=fourteen\n");
  const std::filesystem::path executable(GATEWAY_EXECUTABLE);
  const auto [output, status] =
      RunShell("cd '" + folder.Path() + "' && env PATH='" + executable.parent_path().string() +
               "' " + executable.filename().string() + " --check");
  EXPECT_NE(output.find("\n" + executable.parent_path().string() + "/TARVEL80Import.ini: "),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find(folder.Path()), std::string::npos) << output;
  EXPECT_EQ(status, 0);
}

struct Row {
  std::string Keys;     // [General] keys, then port sections
  std::string Finding;  // the check's only finding, empty for none
  // For a warning or no finding: shows that the running gateway uses the value as read.
  std::function<void(const ProgramFolder&, const NotifySocket&)> Proof = nullptr;
};

// An error ends the start with status 1 and the check's reason; with a warning the gateway runs
// with the value read as the warning says, as a service: it tells systemd its state, outlives a
// hang-up and stops on SIGTERM.
TEST(BadConfiguration, CheckSaysWhatTheStartDoes) {
  const int equipmentPort = FreePort();
  const std::string hall = "[TARVEL80_Port_0]\nDescription=Hall\nPortType=TCPS\nListenPort=" +
                           std::to_string(equipmentPort) + "\n";
  const std::string error = "Configuration error: ";
  const std::string warning = "Configuration warning: ";
  const std::string notAPort = ": not a port number (expected a whole number from 1 to 65535)";
  const Row rows[] = {
      {hall + "PollFailTimeout=5min\n",
       warning + "[TARVEL80_Port_0] PollFailTimeout=5min: read as 5 (text after the number is "
                 "ignored)",
       [&](const ProgramFolder& folder, const NotifySocket&) {
         const std::string failed =
             "TARVEL80 Connection 'Hall' (0) have failed (no events within 5 s)";
         EXPECT_TRUE(WaitUntil([&] { return folder.CountMessages(failed) == 1; }, 60s));
       }},
      {"KeepLimit=10k\n" + hall,
       warning + "[General] KeepLimit=10k: read as 10 (text after the number is ignored)",
       [&](const ProgramFolder& folder, const NotifySocket&) {
         // No alarm server: the first line is kept, the second is beyond 10 characters.
         const Client equipment(equipmentPort);
         equipment.Send(Message("ALARM") + "\r\n" + Message("ALARM") + "\r\n");
         EXPECT_TRUE(folder.WaitForMessage("Keeping limit of 10 characters reached"));
       }},
      {"LogRetentionDays=ninety\n",
       warning + "[General] LogRetentionDays=ninety: read as 0 (not a number)",
       [&](const ProgramFolder& folder, const NotifySocket& notify) {
         // The housekeeping that deletes old logs tells systemd it has run, then the state.
         EXPECT_EQ(notify.Receive(3),
                   (std::vector<std::string>{"READY=1", "WATCHDOG=1",
                                             "STATUS=Alarm server not connected; input ports "
                                             "connected: 0 of 0; lines kept: 0"}));
         EXPECT_TRUE(std::filesystem::exists(folder.Path() + "LogFiles/20000101.Log"));
       }},
      {"LogRetentionDays=30\n", "",
       [&](const ProgramFolder& folder, const NotifySocket&) {
         // Read as written, the same housekeeping deletes the old file.
         EXPECT_TRUE(
             folder.WaitForMessage("Deleted 1 log file older than 30 days (LogRetentionDays)"));
         EXPECT_FALSE(std::filesystem::exists(folder.Path() + "LogFiles/20000101.Log"));
       }},
      {"WatchDogInterval=-5\n", error + "[General] WatchDogInterval: must be 0 or more \"-5\""},
      {"StatusPort=8080x\n", error + "[General] StatusPort" + notAPort + " \"8080x\""},
      {"[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=70000\n",
       error + "[TARVEL80_Port_0] ListenPort=70000" + notAPort},
      {"[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM3,9600,N,8,1,0\n"
       "[SerialDevices]\nCOM3=/dev/tarvel-no-such-tty\n",
       error + "[TARVEL80_Port_2] ComSetting=COM3,9600,N,8,1,0: serial device "
               "/dev/tarvel-no-such-tty does not exist (name another in [SerialDevices] COM3=)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Keys);
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", OstrelPortIni() + row.Keys);
    const std::string ini = folder.Path() + "TARVEL80Import.ini";
    const bool isError = row.Finding.starts_with(error);
    const std::string summary = isError               ? "1 error, 0 warnings"
                                : row.Finding.empty() ? "0 errors, 0 warnings"
                                                      : "0 errors, 1 warning";
    const std::string check = std::string(GATEWAY_EXECUTABLE) + " --check --dir " + folder.Path();
    const std::string findings = row.Finding.empty() ? "" : row.Finding + "\n";
    EXPECT_EQ(RunShell(check), std::pair(findings + ini + ": " + summary + "\n", isError ? 1 : 0));
    EXPECT_EQ(RunShell(check + " --strict").second, row.Finding.empty() ? 0 : 1);

    // Warnings start as a service, so that the housekeeping can be seen to have run.
    std::filesystem::create_directory(folder.Path() + "LogFiles");
    folder.Write("LogFiles/20000101.Log", "");
    if (!isError) folder.Write("TARVEL80Import.service.ini", "[Parameters]\nRunAsService=1\n");
    const NotifySocket notify(folder);
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()},
                           {{"NOTIFY_SOCKET", notify.Path()}});
    if (isError) {
      EXPECT_EQ(gateway.WaitForExit(), 1);
      const std::string reason = row.Finding.substr(row.Finding.find('['));
      EXPECT_NE(gateway.StandardError().find(reason), std::string::npos) << gateway.StandardError();
      ASSERT_FALSE(folder.Messages().empty());
      EXPECT_NE(folder.Messages().back().find(reason), std::string::npos);
      continue;
    }
    ASSERT_TRUE(WaitUntil([&] { return folder.CountMessages("Running: ") == 1; }, 30s))
        << gateway.StandardError();
    // The finding goes to the log once and to the terminal before the start line.
    const std::vector<std::string> messages = folder.Messages();
    EXPECT_EQ(gateway.StandardError(),
              findings + *std::find_if(messages.begin(), messages.end(), [](const auto& m) {
                return m.starts_with("Running: ");
              }) + "\n");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), row.Finding),
              row.Finding.empty() ? 0 : 1);
    row.Proof(folder, notify);
    gateway.Signal(SIGHUP);
    EXPECT_TRUE(folder.WaitForMessage("Received SIGHUP: the service goes on"));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitForExit(), 0);
    EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping, reason 1"), 1u);
  }
}

// Without a display (no variable, or an empty one) the gateway runs headless, notes on standard
// error; either variable alone names one: here one that is not there, so the windows fail.
TEST(Check, RunsHeadlessWithoutADisplayAndOpensWindowsWithEither) {
  using Environment = std::map<std::string, std::string>;
  const std::pair<Environment, bool> rows[] = {
      {{}, true},
      {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, true},
      {{{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", "xcb"}}, false},
      {{{"WAYLAND_DISPLAY", ":97"}, {"QT_QPA_PLATFORM", "xcb"}}, false},
  };
  for (const auto& [environment, headless] : rows) {
    SCOPED_TRACE(testing::PrintToString(environment));
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", OstrelPortIni());
    GatewayProcess gateway(folder, {"--dir", folder.Path()}, environment);
    if (headless) {
      EXPECT_TRUE(WaitUntil([&] {
        return gateway.StandardError().ends_with("; stop: Ctrl+C, SIGTERM or File > Exit\n");
      }));
      EXPECT_TRUE(gateway.StandardError().starts_with("Running: alarm server listener on *:"))
          << gateway.StandardError();
      gateway.Signal(SIGTERM);
    }
    const std::optional<int> status = gateway.WaitForExit(10s);
    ASSERT_TRUE(status.has_value()) << gateway.StandardError();
    EXPECT_EQ(*status == 0, headless);
    EXPECT_EQ(gateway.StandardError().find("platform plugin") == std::string::npos, headless)
        << gateway.StandardError();
  }
}

// A large INI file does not stay in memory after start-up, nor of a large [SerialDevices] section
// more than the configured ports' devices: COM7's, opened, out of a million others.
TEST(HostileFolder, LargeIniFileIsGivenBackAfterStartUp) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
#endif
  PseudoTerminal serialLine;
  for (const bool serial : {false, true}) {
    ProgramFolder folder;
    std::string ini =
        OstrelPortIni() + (serial ? "[TARVEL80_Port_3]\nPortType=COM\nComSetting=COM7,"
                                    "9600,N,8,1,0\n[SerialDevices]\nCOM7=" +
                                        serialLine.SlavePath() + "\n"
                                  : "[Junk]\n");
    for (int n = 0; ini.size() < 10'000'000; ++n) {
      ini += serial ? "COM" + std::to_string(n + 8) + "=/dev/ttyUSB" + std::to_string(n) + "\n"
                    : "K" + std::to_string(n) + "=" + std::string(1000, 'v') + "\n";
    }
    folder.Write("TARVEL80Import.ini", ini);
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
    ASSERT_TRUE(WaitUntil([&] { return folder.CountMessages("Running: ") == 1; }, 60000ms))
        << gateway.StandardError();
    EXPECT_EQ(folder.CountMessages("Opened (3) port COM7"), serial ? 1u : 0u);
    // Normally about 20 MB; a copy of the values kept adds 10 MB, the serial keys over 100 MB.
    int64_t resident = -1;
    EXPECT_TRUE(WaitUntil(
        [&] { return (resident = tools::ProcStatusKb(gateway.Pid(), "VmRSS")) < 60'000; }, 10000ms))
        << resident << " kB resident";
  }
}

// A link at the lock's name (a second copy could lock another file) stops the start, saying why.
TEST(HostileFolder, LinkAtTheLockStopsTheStart) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  const std::string lock = folder.Path() + "TARVEL80Import.lock";
  std::filesystem::create_symlink(folder.Path() + "elsewhere.lock", lock);
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  EXPECT_EQ(gateway.WaitForExit(), 1);
  const std::string refusal =
      lock + " is a symbolic link, not the running-copy lock; remove it to start";
  EXPECT_NE(gateway.StandardError().find(refusal), std::string::npos) << gateway.StandardError();
  EXPECT_EQ(folder.CountMessages(refusal), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() + "elsewhere.lock"));
}

}  // namespace
}  // namespace tarvel::integration
