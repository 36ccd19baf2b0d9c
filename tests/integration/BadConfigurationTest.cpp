// Bad configuration files through --check and through a real start of the gateway: what the
// check calls an error ends the start with status 1 and the same reason; what it calls a
// warning starts, and the gateway runs with the value read as the warning says.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::string Number(int value) {
  return std::to_string(value);
}

// One started gateway as a row's proof sees it.
struct Started {
  const ProgramFolder& Folder;
  const NotifySocket& Notify;
  int EquipmentPort;  // port 0's listen port
};

struct Row {
  std::string Keys;     // [General] keys, then port sections
  std::string Finding;  // the check's only finding, empty for none
  // For a warning or no finding: shows that the running gateway uses the value as read.
  std::function<void(const Started&)> Proof = nullptr;
};

// A single-line message as the equipment sends it.
std::string Message(const std::string& tag) {
  return "ALARM 07-06-2017 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + "Door open\r\n";
}

TEST(BadConfiguration, CheckSaysWhatTheStartDoes) {
  const int equipmentPort = FreePort();
  const std::string hall =
      "[TARVEL80_Port_0]\nDescription=Hall\nPortType=TCPS\nListenPort=" + Number(equipmentPort) +
      "\n";
  const std::string error = "Configuration error: ";
  const std::string warning = "Configuration warning: ";
  const std::string notAPort = ": not a port number (expected a whole number from 1 to 65535)";
  const Row rows[] = {
      {hall + "PollFailTimeout=5min\n",
       warning + "[TARVEL80_Port_0] PollFailTimeout=5min: read as 5 (text after the number is "
                 "ignored)",
       [](const Started& run) {
         EXPECT_TRUE(WaitUntil(
             [&] {
               return run.Folder.CountMessages(
                          "TARVEL80 Connection 'Hall' (0) have failed (no events within 5 s)") == 1;
             },
             60s));
       }},
      {"KeepLimit=10k\n" + hall,
       warning + "[General] KeepLimit=10k: read as 10 (text after the number is ignored)",
       [](const Started& run) {
         // No alarm server: the first line is kept, the second is beyond 10 characters.
         const Client equipment(run.EquipmentPort);
         equipment.Send(Message("T1") + Message("T2"));
         EXPECT_TRUE(run.Folder.WaitForMessage("Keeping limit of 10 characters reached"));
       }},
      {"LogRetentionDays=ninety\n",
       warning + "[General] LogRetentionDays=ninety: read as 0 (not a number)",
       [](const Started& run) {
         // As a service the housekeeping that deletes old logs tells systemd it has run.
         EXPECT_EQ(run.Notify.Receive(2), (std::vector<std::string>{"READY=1", "WATCHDOG=1"}));
         EXPECT_TRUE(std::filesystem::exists(run.Folder.Path() + "LogFiles/20000101.Log"));
       }},
      {"LogRetentionDays=30\n", "",
       [](const Started& run) {
         // Read as written, the same housekeeping deletes the old file.
         EXPECT_TRUE(
             run.Folder.WaitForMessage("Deleted 1 log file older than 30 days (LogRetentionDays)"));
         EXPECT_FALSE(std::filesystem::exists(run.Folder.Path() + "LogFiles/20000101.Log"));
       }},
      {"WatchDogInterval=-5\n", error + "[General] WatchDogInterval: must be 0 or more \"-5\""},
      {"StatusPort=abc\n", error + "[General] StatusPort" + notAPort + " \"abc\""},
      {"StatusPort=8080x\n", error + "[General] StatusPort" + notAPort + " \"8080x\""},
      {"OstrelPort=0\n", error + "[General] OstrelPort" + notAPort + " \"0\""},
      {"[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=70000\n",
       error + "[TARVEL80_Port_0] ListenPort=70000" + notAPort},
      {"[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM3,9600,N,8,1,0\n"
       "[SerialDevices]\nCOM3=/dev/tarvel-no-such-tty\n",
       error + "[TARVEL80_Port_2] ComSetting=COM3,9600,N,8,1,0: serial device "
               "/dev/tarvel-no-such-tty does not exist (name another in [SerialDevices] COM3=)"},
      {hall, "",
       [](const Started& run) {
         EXPECT_EQ(run.Folder.CountMessages("Set (0) in listen mode for IP port "), 1u);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Keys);
    ProgramFolder folder;
    const int ostrelPort = FreePort();
    const bool ownOstrelPort = row.Keys.find("OstrelPort=") != std::string::npos;
    folder.Write("TARVEL80Import.ini",
                 "[General]\n" + (ownOstrelPort ? "" : "OstrelPort=" + Number(ostrelPort) + "\n") +
                     row.Keys);
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
    ASSERT_TRUE(notify.Bound());
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
    EXPECT_EQ(gateway.StandardError().find(row.Finding.empty() ? "Configuration" : row.Finding),
              row.Finding.empty() ? std::string::npos : 0u)
        << gateway.StandardError();
    row.Proof(Started{folder, notify, equipmentPort});
    EXPECT_TRUE(gateway.Running());
  }
}

// The terminal gets the reason that the log has on its own line; the log lines stay as they are.
TEST(BadConfiguration, ListenerFailureReasonReachesTheTerminal) {
  ProgramFolder folder;
  const Listener taken;
  folder.Write("TARVEL80Import.ini", OstrelPortIni(taken.Port()));
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage("Running: ")) << gateway.StandardError();
  const std::string port = Number(taken.Port());
  ASSERT_EQ(folder.CountMessages("Could not set Ostrel port (" + port + ") to listen mode, err: "),
            1u);
  const std::string logged = folder.Messages()[folder.Messages().size() - 2];
  const std::string reason = logged.substr(logged.find(", err: ") + 7);
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(folder.Messages().back().starts_with("Running: alarm server NOT listening (port " +
                                                   port + "); "))
      << folder.Messages().back();
  EXPECT_NE(gateway.StandardError().find("Running: alarm server NOT listening (port " + port +
                                         ": " + reason + "); "),
            std::string::npos)
      << gateway.StandardError();
}

}  // namespace
}  // namespace tarvel::integration
