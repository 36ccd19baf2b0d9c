#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// On the desktop (its windows drawn offscreen) a signal writes one stop line. Headless, SIGTERM
// is the walkthrough's and SIGHUP the service test's; each signal's reason is the unit test's.
TEST(Shutdown, SignalOnTheDesktopWritesOneLineWithItsReason) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  GatewayProcess gateway(folder, {"--dir", folder.Path()},
                         {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();
  gateway.Signal(SIGINT);
  EXPECT_EQ(gateway.WaitForExit(), 0);
  EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason 0");
}

}  // namespace
}  // namespace tarvel::integration
