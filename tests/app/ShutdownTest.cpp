#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Shutdown.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeProcessControl.h"

namespace tarvel {
namespace {

TEST(Shutdown, SignalsMapToCloseReasons) {
  struct Row {
    int signalNumber;
    bool service;
    CloseReason expected;
  } rows[] = {
      {SIGTERM, true, CloseReason::ProgramClose}, {SIGTERM, false, CloseReason::TaskManager},
      {SIGHUP, false, CloseReason::SessionEnd},   {SIGHUP, true, CloseReason::SessionEnd},
      {SIGINT, false, CloseReason::UserClose},    {SIGINT, true, CloseReason::UserClose},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CloseReasonForSignal(row.signalNumber, row.service), row.expected)
        << "signal " << row.signalNumber << (row.service ? " service" : " desktop");
  }
}

TEST(Shutdown, WritesOneLineAndEndsTheProcessOnce) {
  char pattern[] = "/tmp/tarvel-shutdown-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/";
  std::filesystem::create_directory(folder + "LogFiles");
  FakeClock clock;
  LogFile log(clock, folder);
  FakeProcessControl process;
  Shutdown shutdown(log, process);

  shutdown.Stop(CloseReason::ProgramClose);
  shutdown.Stop(CloseReason::UserClose);  // a second request while stopping

  std::ifstream file(folder + "LogFiles/20170607.Log", std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), "17-06-07 12:34:56 TARVEL80 Server is stopping, reason 1\r\n");
  EXPECT_EQ(process.EndStatuses(), std::vector<int>{0});
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarvel
