#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

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
