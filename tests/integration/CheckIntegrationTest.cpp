#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdio>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// Runs the executable with a shell and gives its exit status and standard output.
std::pair<int, std::string> RunForOutput(const std::string& arguments) {
  const std::string command = std::string(GATEWAY_EXECUTABLE) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, count);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(Check, ReportsEveryFindingAndExitsWithOneOnErrors) {
  ProgramFolder folder;
  const std::string ini = folder.Path() + "TARVEL80Import.ini";
  struct Row {
    std::string ini;
    int status;
    std::string output;
  } rows[] = {
      {"[General]\nOstrelPort=14000\n", 0, ini + ": 0 errors, 0 warnings\n"},
      {"[TARVEL80_Port_2]\nPortType=TCPSS\n", 0,
       "Configuration warning: [TARVEL80_Port_2] PortType=TCPSS: unknown port type (expected "
       "COM, TCPS or TCPC); the port is not used\n" +
           ini + ": 0 errors, 1 warning\n"},
      {"[General]\nOstrelPort=fourteen\n[TARVEL80_Port_0]\nPortType=TCPS\n", 1,
       "Configuration error: [General] OstrelPort: not a port number (expected a whole number "
       "from 1 to 65535) \"fourteen\"\n"
       "Configuration error: [TARVEL80_Port_0] ListenPort=: not a port number (expected a whole "
       "number from 1 to 65535)\n" +
           ini + ": 2 errors, 0 warnings\n"},
  };
  for (const Row& row : rows) {
    folder.Write("TARVEL80Import.ini", row.ini);
    EXPECT_EQ(RunForOutput("--check --dir " + folder.Path()),
              (std::pair<int, std::string>{row.status, row.output}))
        << row.ini;
  }
  EXPECT_TRUE(folder.LogLines().empty());  // the check writes no log
  EXPECT_EQ(RunForOutput("--check --dir " + folder.Path() + "missing"),
            (std::pair<int, std::string>{1, "Configuration error: the program folder " +
                                                folder.Path() + "missing/ does not exist\n"}));
}

TEST(Check, StartInAMissingFolderEndsWithAClearMessage) {
  ProgramFolder folder;
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path() + "missing"});
  EXPECT_EQ(gateway.WaitForExit(), 1);
  EXPECT_EQ(gateway.StandardError(),
            "tarvel80import: the program folder " + folder.Path() + "missing/ does not exist\n");
}

// As a service: the start line, systemd's status line and watchdog through $NOTIFY_SOCKET, and a
// hang-up that is logged and survived.
TEST(Check, ServiceTellsSystemdItsStateAndSurvivesAHangUp) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  folder.Write("TARVEL80Import.service.ini", "[Parameters]\nRunAsService=1\n");
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) + "\nOstrelPortt=1\n");
  const std::string socketPath = folder.Path() + "notify";
  const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval timeout{10, 0};
  setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  GatewayProcess service(folder, {"--dir", folder.Path()}, {{"NOTIFY_SOCKET", socketPath}});
  std::vector<std::string> messages;
  char buffer[512];
  while (messages.size() < 3) {
    const ssize_t count = recv(notify, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    messages.emplace_back(buffer, static_cast<size_t>(count));
  }
  close(notify);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "READY=1", "WATCHDOG=1",
                          "STATUS=Alarm server not connected; input ports connected: 0 of 0; "
                          "lines kept: 0"}));

  const std::string running = "Running: alarm server listener on *:" + std::to_string(ostrelPort) +
                              "; input ports: 0 TCPS, 0 TCPC, 0 COM; log: " + folder.Path() +
                              "LogFiles/; stop: systemctl stop TARVEL80ImportForOstrel";
  const std::string warning =
      "Configuration warning: [General] OstrelPortt=1: unknown key (ignored)";
  ASSERT_TRUE(folder.WaitForMessage(running));
  EXPECT_EQ(service.StandardError(), warning + "\n" + running + "\n");
  EXPECT_EQ(folder.CountMessages(warning), 1u);

  service.Signal(SIGHUP);
  EXPECT_TRUE(folder.WaitForMessage("Received SIGHUP: the service goes on"));
  EXPECT_TRUE(service.Running());
  service.Signal(SIGTERM);
  EXPECT_EQ(service.WaitForExit(), 0);
}

}  // namespace
}  // namespace tarvel::integration
