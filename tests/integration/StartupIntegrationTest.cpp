#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::vector<std::string> Headless(const ProgramFolder& folder) {
  return {"--headless", "--dir", folder.Path()};
}

TEST(Startup, WrongPort3EndsTheProcessAfterPorts0To2) {
  ProgramFolder folder;
  const int port = FreePort();
  folder.Write("TARVEL80Import.ini",
               OstrelPortIni() +
                   "[TARVEL80_Port_2]\nPortType=TCPS\nListenPort=" + std::to_string(port) +
                   "\n[TARVEL80_Port_3]\nPortType=TCPC\nRemoteAddress=127.0.0.1:9\nListenPort=1\n");
  GatewayProcess gateway(folder, Headless(folder));
  EXPECT_GT(gateway.WaitForExit().value_or(0), 0);
  const std::string reason =
      ": [TARVEL80_Port_3] ListenPort=1: must be 0 or missing for a TCPC port";
  EXPECT_EQ(folder.Messages(),
            (std::vector<std::string>{std::string(80, '-'), StartLine,
                                      "Set (2) in listen mode for IP port " + std::to_string(port),
                                      "Bad server/client configuration for port 3" + reason}));
  EXPECT_EQ(gateway.StandardError(), "Bad configuration for port 3" + reason + "\n");
}

// The lock is the real file lock, taken by the real process.
TEST(Startup, SecondCopyInTheSameFolderIsRefused) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  GatewayProcess first(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage(StartLine));
  GatewayProcess second(folder, Headless(folder));
  EXPECT_GT(second.WaitForExit().value_or(0), 0);
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
  EXPECT_GT(wrong.WaitForExit().value_or(0), 0);
  EXPECT_NE(wrong.StandardError().find("Usage:"), std::string::npos);
}

// Headless and on the desktop (its windows drawn offscreen): a signal writes one stop line.
TEST(Shutdown, SignalsOnTheDesktopWriteOneLineWithTheirReason) {
  const std::tuple<int, bool, std::string> rows[] = {
      {SIGHUP, false, "2"}, {SIGINT, false, "0"}, {SIGTERM, true, "3"}};
  for (const auto& [signalNumber, desktop, reason] : rows) {
    SCOPED_TRACE(signalNumber);
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", OstrelPortIni());
    GatewayProcess gateway(
        folder, desktop ? std::vector<std::string>{"--dir", folder.Path()} : Headless(folder),
        {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();
    gateway.Signal(signalNumber);
    EXPECT_EQ(gateway.WaitForExit(), 0);
    EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping"), 1u);
    EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason " + reason);
  }
}

}  // namespace
}  // namespace tarvel::integration
