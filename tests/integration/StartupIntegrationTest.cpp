#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

const std::string Separator(80, '-');
const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";
const std::string StopLine = "TARVEL80 Server is stopping, reason ";

std::vector<std::string> Headless(const ProgramFolder& folder) {
  return {"--headless", "--dir", folder.Path()};
}

TEST(Startup, WithoutIniFileListensOn14000) {
  if (!PortIsFree(14000)) GTEST_SKIP() << "port 14000 is taken on this machine";
  ProgramFolder folder;
  GatewayProcess gateway(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage("Running: ")) << gateway.StandardError();
  // The missing file is a warning; the last line tells where everything is.
  const std::string warning = "Configuration warning: " + folder.Path() +
                              "TARVEL80Import.ini: no such file; every setting takes its default";
  const std::string running =
      "Running: alarm server listener on *:14000; input ports: 0 TCPS, 0 TCPC, 0 COM; log: " +
      folder.Path() + "LogFiles/; stop: Ctrl+C, SIGTERM or File > Exit";
  EXPECT_EQ(folder.Messages(), (std::vector<std::string>{Separator, StartLine, warning, running}));
  EXPECT_EQ(gateway.StandardError(), warning + "\n" + running + "\n");
  Client alarmServer(14000);
  EXPECT_TRUE(alarmServer.Connected());
  EXPECT_TRUE(folder.WaitForMessage("Accepted Ostrel connection from 127.0.0.1:"));
}

TEST(Startup, WritesTheStartLinesAndListensOnTheConfiguredPort) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(ostrelPort) + "\n");
  GatewayProcess gateway(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage("Running: ")) << gateway.StandardError();
  const auto lines = folder.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], Separator);  // no time stamp
  EXPECT_EQ(lines[1].size(), 18 + StartLine.size());
  Client alarmServer(ostrelPort);
  EXPECT_TRUE(alarmServer.Connected());
  EXPECT_TRUE(gateway.Running());
}

TEST(Startup, WrongPort3EndsTheProcessAfterPorts0To2) {
  ProgramFolder folder;
  std::string ini = "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n";
  std::vector<int> ports;
  for (int n = 0; n < 3; ++n) {
    ports.push_back(FreePort());
    ini += "[TARVEL80_Port_" + std::to_string(n) +
           "]\nPortType=TCPS\nListenPort=" + std::to_string(ports.back()) + "\n";
  }
  ini += "[TARVEL80_Port_3]\nPortType=TCPC\nRemoteAddress=127.0.0.1:9\nListenPort=1\n";
  folder.Write("TARVEL80Import.ini", ini);

  GatewayProcess gateway(folder, Headless(folder));
  const auto status = gateway.WaitForExit();

  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  std::vector<std::string> expected{Separator, StartLine};
  for (int n = 0; n < 3; ++n)
    expected.push_back("Set (" + std::to_string(n) + ") in listen mode for IP port " +
                       std::to_string(ports[n]));
  const std::string reason =
      ": [TARVEL80_Port_3] ListenPort=1: must be 0 or missing for a TCPC port";
  expected.push_back("Bad server/client configuration for port 3" + reason);
  EXPECT_EQ(folder.Messages(), expected);
  EXPECT_EQ(gateway.StandardError(), "Bad configuration for port 3" + reason + "\n");
}

TEST(Startup, ListenPortInUseEndsTheProcess) {
  ProgramFolder folder;
  const int listenPort = FreePort();
  // Another program holds the port.
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(listenPort));
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) +
                                         "\n[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" +
                                         std::to_string(listenPort) + "\n");
  GatewayProcess gateway(folder, Headless(folder));
  const auto status = gateway.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  const auto messages = folder.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[2].rfind("Could not set socket in listen mode: ", 0), 0u) << messages[2];
  EXPECT_NE(messages[2].find(" for port 0 (IP port " + std::to_string(listenPort) + ")"),
            std::string::npos)
      << messages[2];
  close(holder);
}

TEST(Startup, ConfigurationValueOutOfRangeEndsTheProcess) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=99999999999\n");
  GatewayProcess gateway(folder, Headless(folder));
  const auto status = gateway.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  const auto messages = folder.Messages();
  ASSERT_EQ(messages.size(), 1u);
  for (const char* name : {"General", "OstrelPort", "99999999999"})
    EXPECT_NE(messages[0].find(name), std::string::npos) << messages[0];
  EXPECT_EQ(gateway.StandardError(), messages[0] + "\n");
}

TEST(Startup, SecondCopyInTheSameFolderIsRefused) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
  GatewayProcess first(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage(StartLine));

  GatewayProcess second(folder, Headless(folder));
  const auto status = second.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_EQ(second.StandardError(),
            "TARVEL80 Import for Ostrel Alarm Server is already started!\n");
  EXPECT_EQ(folder.CountMessages(StartLine), 1u);
  EXPECT_TRUE(first.Running());

  // Another folder is another installation.
  ProgramFolder other;
  other.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
  GatewayProcess beside(other, Headless(other));
  EXPECT_TRUE(other.WaitForMessage(StartLine)) << beside.StandardError();
}

TEST(Startup, CommandLineAnswers) {
  ProgramFolder folder;
  GatewayProcess version(folder, {"--version"});
  EXPECT_EQ(version.WaitForExit(), 0);
  GatewayProcess wrong(folder, {"--no-such-option"});
  const auto status = wrong.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_NE(wrong.StandardError().find("Usage:"), std::string::npos);
}

TEST(Shutdown, SignalsOnTheDesktopWriteOneLineWithTheirReason) {
  struct Row {
    int signalNumber;
    const char* reason;
  } rows[] = {{SIGTERM, "3"}, {SIGHUP, "2"}, {SIGINT, "0"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.signalNumber);
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini",
                 "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
    GatewayProcess gateway(folder, Headless(folder));
    ASSERT_TRUE(folder.WaitForMessage(StartLine));
    gateway.Signal(row.signalNumber);
    EXPECT_EQ(gateway.WaitForExit(), 0);
    EXPECT_EQ(folder.CountMessages(StopLine), 1u);
    EXPECT_EQ(folder.Messages().back(), StopLine + row.reason);
  }
}

}  // namespace
}  // namespace tarvel::integration

namespace tarvel::integration {
namespace {

// The desktop road with its windows, drawn offscreen: starts, and stops on a signal.
TEST(Desktop, RunsWithWindowsAndStopsOnASignal) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n");
  GatewayProcess gateway(folder, {"--dir", folder.Path()},
                         {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
  ASSERT_TRUE(folder.WaitForMessage("TARVEL80 Import for Ostrel is starting, version 1.0.04"))
      << gateway.StandardError();
  gateway.Signal(SIGTERM);
  EXPECT_EQ(gateway.WaitForExit(), 0);
  EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason 3");
}

}  // namespace
}  // namespace tarvel::integration
