#include <gtest/gtest.h>

#include <filesystem>

#include "app/Shutdown.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeProcessControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// The reason goes into the stopping line: SIGTERM is the service manager's stop for a service,
// someone else's for a desktop run.
TEST(Shutdown, SignalsMapToCloseReasons) {
  for (const bool service : {false, true}) {
    EXPECT_EQ(CloseReasonForSignal(StopSignal::Terminate, service),
              service ? CloseReason::ProgramClose : CloseReason::TaskManager);
    EXPECT_EQ(CloseReasonForSignal(StopSignal::HangUp, service), CloseReason::SessionEnd);
    EXPECT_EQ(CloseReasonForSignal(StopSignal::Interrupt, service), CloseReason::UserClose);
  }
}

// SIGHUP ends a desktop or terminal run, but a service goes on: it says so in the log.
TEST(Shutdown, WritesOneLineAndEndsTheProcessOnceButAServiceOutlivesAHangUp) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path() + "LogFiles");
  FakeClock clock;
  LogFile log(clock, folder.Path() + "LogFiles");
  FakeProcessControl process;
  Shutdown shutdown(log, process);

  shutdown.HandleSignal(StopSignal::HangUp, true);
  EXPECT_TRUE(process.EndStatuses.empty());
  shutdown.HandleSignal(StopSignal::Terminate, true);
  shutdown.Stop(CloseReason::UserClose);  // a second request while stopping

  EXPECT_EQ(folder.ReadFile("LogFiles/20170607.Log"),
            "17-06-07 12:34:56 Received SIGHUP: the service goes on; a changed "
            "TARVEL80Import.ini takes effect only after a restart (systemctl restart "
            "TARVEL80ImportForOstrel)\r\n"
            "17-06-07 12:34:56 TARVEL80 Server is stopping, reason 1\r\n");
  EXPECT_EQ(process.EndStatuses, std::vector<int>{0});
}

}  // namespace
}  // namespace tarvel
