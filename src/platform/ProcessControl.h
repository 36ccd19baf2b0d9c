#pragma once

#include <string>

namespace tarvel {

// What start-up and shutdown need of the process and its surroundings.
class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  // Takes the running-copy lock of the program folder; false when another copy holds it
  // (refusal stays empty) or when the lock cannot be trusted (refusal says why, and the program
  // must not run). The lock is held for the life of the process.
  virtual bool TakeRunningCopyLock(const std::string& programPath, std::string& refusal) = 0;
  // Creates a folder unless there is one; the system's reason when there is none afterwards,
  // else empty.
  virtual std::string CreateFolder(const std::string& path) = 0;
  // Ends the process at once with the exit status: nothing more of the logic runs.
  virtual void EndProcess(int exitStatus) = 0;
};

}  // namespace tarvel
