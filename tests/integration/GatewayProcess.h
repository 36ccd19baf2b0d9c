#pragma once

// The integration tests' view of the one harness that the tools use too.
#include <cstdio>

#include "../../tools/ToolSupport.h"

namespace tarvel::integration {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tools::Client;
using tools::FreePort;
using tools::Listener;
using tools::PseudoTerminal;
using tools::ReadWholeFile;
using tools::SendInPieces;
using tools::WaitUntil;
using ProgramFolder = tools::TempFolder;

inline std::string OstrelPortIni(int port = FreePort()) {
  return "[General]\nOstrelPort=" + std::to_string(port) + "\n";
}

// The output (standard error too) and exit status of a shell command.
inline std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t count; pipe != nullptr && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, count);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The gateway executable of this build running as a child process with its standard error
// kept in the program folder, killed at the end if still running.
class GatewayProcess : public tools::ChildProcess {
 public:
  GatewayProcess(const ProgramFolder& folder, std::vector<std::string> arguments,
                 const std::map<std::string, std::string>& environment = {})
      : ChildProcess(Words(std::move(arguments)),
                     folder.Path() + "stderr-" + std::to_string(++count_) + ".txt", environment,
                     false) {}
  ~GatewayProcess() { Stop(SIGKILL); }
  std::string StandardError() const { return Output(); }

 private:
  static std::vector<std::string> Words(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), GATEWAY_EXECUTABLE);
    return arguments;
  }
  static inline int count_ = 0;
};

}  // namespace tarvel::integration
