#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::vector<std::string> Headless(const ProgramFolder& folder) {
  return {"--headless", "--dir", folder.Path()};
}

// --version is the package test's.
TEST(Startup, UnknownOptionGetsTheUsage) {
  ProgramFolder folder;
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
