#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// Whether the process is gone: ended, or a zombie left to a parent that does not reap.
bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t afterName = text.rfind(')');
  return afterName == std::string::npos || text.substr(afterName + 2, 1) == "Z";
}

// A test process killed where no destructor runs (ctest's timeout) takes its gateway with it.
TEST(GatewayProcess, DiesWithTheTestThatStartedIt) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t test = fork();
  if (test == 0) {
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
    const pid_t pid = gateway.Pid();
    if (write(pipeFds[1], &pid, sizeof pid) != sizeof pid) _exit(1);
    for (;;) pause();
  }
  close(pipeFds[1]);
  pid_t gateway = -1;
  ASSERT_EQ(read(pipeFds[0], &gateway, sizeof gateway), static_cast<ssize_t>(sizeof gateway));
  close(pipeFds[0]);
  ASSERT_TRUE(folder.WaitForMessage("Running: "));
  kill(test, SIGKILL);
  waitpid(test, nullptr, 0);
  const bool gone = WaitUntil([&] { return Gone(gateway); });
  EXPECT_TRUE(gone) << "gateway " << gateway << " outlived its test";
  if (!gone) kill(gateway, SIGKILL);
}

}  // namespace
}  // namespace tarvel::integration
