#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// The live process with `text` on its command line, or 0 (an ended process or zombie has none).
pid_t ProcessWith(const std::string& text) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    if (ReadWholeFile(entry.path() / "cmdline").find(text) != std::string::npos)
      return std::atoi(entry.path().filename().c_str());
  }
  return 0;
}

// A test process killed where no destructor runs (ctest's timeout) takes its gateway with it.
TEST(GatewayProcess, DiesWithTheTestThatStartedIt) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  const pid_t test = fork();
  if (test == 0) {
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
    for (;;) pause();
  }
  ASSERT_TRUE(folder.WaitForMessage("Running: "));
  const pid_t gateway = ProcessWith(folder.Path());
  ASSERT_GT(gateway, 0);
  kill(test, SIGKILL);
  waitpid(test, nullptr, 0);
  const bool gone = WaitUntil([&] { return ProcessWith(folder.Path()) == 0; });
  EXPECT_TRUE(gone) << "gateway " << gateway << " outlived its test";
  if (!gone) kill(gateway, SIGKILL);
}

}  // namespace
}  // namespace tarvel::integration
