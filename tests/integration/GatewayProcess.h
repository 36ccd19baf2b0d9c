#pragma once

// The integration tests' view of the one harness that the tools use too.
#include "../../tools/ToolSupport.h"

namespace tarvel::integration {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tools::Client;
using tools::FreePort;
using tools::PortIsFree;
using tools::ReadWholeFile;
using tools::WaitUntil;
using ProgramFolder = tools::TempFolder;

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
