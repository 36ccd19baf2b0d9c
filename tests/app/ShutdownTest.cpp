#include <gtest/gtest.h>

#include <filesystem>

#include "app/Shutdown.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeProcessControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

TEST(Shutdown, SignalsMapToCloseReasons) {
  struct Row {
    StopSignal signal;
    bool service;
    CloseReason expected;
  } rows[] = {
      {StopSignal::Terminate, true, CloseReason::ProgramClose},
      {StopSignal::Terminate, false, CloseReason::TaskManager},
      {StopSignal::HangUp, false, CloseReason::SessionEnd},
      {StopSignal::HangUp, true, CloseReason::SessionEnd},
      {StopSignal::Interrupt, false, CloseReason::UserClose},
      {StopSignal::Interrupt, true, CloseReason::UserClose},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CloseReasonForSignal(row.signal, row.service), row.expected)
        << "signal " << static_cast<int>(row.signal) << (row.service ? " service" : " desktop");
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
  EXPECT_TRUE(process.EndStatuses().empty());
  shutdown.HandleSignal(StopSignal::Terminate, true);
  shutdown.Stop(CloseReason::UserClose);  // a second request while stopping

  EXPECT_EQ(folder.ReadFile("LogFiles/20170607.Log"),
            "17-06-07 12:34:56 Received SIGHUP: the service goes on; a changed "
            "TARVEL80Import.ini takes effect only after a restart (systemctl restart "
            "TARVEL80ImportForOstrel)\r\n"
            "17-06-07 12:34:56 TARVEL80 Server is stopping, reason 1\r\n");
  EXPECT_EQ(process.EndStatuses(), std::vector<int>{0});
}

}  // namespace
}  // namespace tarvel
