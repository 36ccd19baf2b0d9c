// Bad configuration files through --check and through a real start of the gateway: what the
// check calls an error ends the start with status 1 and the same reason; what it calls a
// warning starts, and the gateway runs with the value read as the warning says. The starts that
// go on run as a service, which tells systemd its state, outlives a hang-up and stops on SIGTERM.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "integration/GatewayProcess.h"
#include "support/SingleLineMessage.h"

namespace tarvel::integration {
namespace {

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
         equipment.Send(Message("ALARM") + "\r\n" + Message("ALARM") + "\r\n");
         EXPECT_TRUE(run.Folder.WaitForMessage("Keeping limit of 10 characters reached"));
       }},
      {"LogRetentionDays=ninety\n",
       warning + "[General] LogRetentionDays=ninety: read as 0 (not a number)",
       [](const Started& run) {
         // The housekeeping that deletes old logs tells systemd it has run, then the state.
         EXPECT_EQ(run.Notify.Receive(3),
                   (std::vector<std::string>{"READY=1", "WATCHDOG=1",
                                             "STATUS=Alarm server not connected; input ports "
                                             "connected: 0 of 0; lines kept: 0"}));
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
      {"StatusPort=8080x\n", error + "[General] StatusPort" + notAPort + " \"8080x\""},
      {"OstrelPort=0\n", error + "[General] OstrelPort" + notAPort + " \"0\""},
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
    const int ostrelPort = FreePort();
    const bool ownOstrelPort = row.Keys.find("OstrelPort=") != std::string::npos;
    folder.Write("TARVEL80Import.ini",
                 "[General]\n" +
                     (ownOstrelPort ? "" : "OstrelPort=" + std::to_string(ostrelPort) + "\n") +
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
    // The finding goes to the log once and to the terminal before the start line.
    const std::vector<std::string> messages = folder.Messages();
    EXPECT_EQ(gateway.StandardError(),
              findings + *std::find_if(messages.begin(), messages.end(), [](const auto& m) {
                return m.starts_with("Running: ");
              }) + "\n");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), row.Finding),
              row.Finding.empty() ? 0 : 1);
    row.Proof(Started{folder, notify, equipmentPort});
    gateway.Signal(SIGHUP);
    EXPECT_TRUE(folder.WaitForMessage("Received SIGHUP: the service goes on"));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitForExit(), 0);
    EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping, reason 1"), 1u);
  }
}

}  // namespace
}  // namespace tarvel::integration
