#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";
const std::string StopLine = "TARVEL80 Server is stopping, reason ";

std::vector<std::string> Headless(const ProgramFolder& folder) {
  return {"--headless", "--dir", folder.Path()};
}

std::string OstrelPortIni() {
  return "[General]\nOstrelPort=" + std::to_string(FreePort()) + "\n";
}

TEST(Startup, WrongPort3EndsTheProcessAfterPorts0To2) {
  ProgramFolder folder;
  const int port = FreePort();
  folder.Write("TARVEL80Import.ini",
               OstrelPortIni() +
                   "[TARVEL80_Port_2]\nPortType=TCPS\nListenPort=" + std::to_string(port) +
                   "\n[TARVEL80_Port_3]\nPortType=TCPC\nRemoteAddress=127.0.0.1:9\nListenPort=1\n");
  GatewayProcess gateway(folder, Headless(folder));
  const auto status = gateway.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  const std::string reason =
      ": [TARVEL80_Port_3] ListenPort=1: must be 0 or missing for a TCPC port";
  EXPECT_EQ(folder.Messages(),
            (std::vector<std::string>{std::string(80, '-'), StartLine,
                                      "Set (2) in listen mode for IP port " + std::to_string(port),
                                      "Bad server/client configuration for port 3" + reason}));
  EXPECT_EQ(gateway.StandardError(), "Bad configuration for port 3" + reason + "\n");
}

TEST(Startup, SecondCopyInTheSameFolderIsRefused) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
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
  for (const auto& [signalNumber, reason] : {std::pair{SIGHUP, "2"}, std::pair{SIGINT, "0"}}) {
    SCOPED_TRACE(signalNumber);
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", OstrelPortIni());
    GatewayProcess gateway(folder, Headless(folder));
    ASSERT_TRUE(folder.WaitForMessage(StartLine));
    gateway.Signal(signalNumber);
    EXPECT_EQ(gateway.WaitForExit(), 0);
    EXPECT_EQ(folder.CountMessages(StopLine), 1u);
    EXPECT_EQ(folder.Messages().back(), StopLine + reason);
  }
}

}  // namespace
}  // namespace tarvel::integration
