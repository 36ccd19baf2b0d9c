#pragma once

#include "platform/ProcessControl.h"
#include "platform/ProgramLayout.h"

namespace tarvel {

// The process on a POSIX system. The running-copy lock is an flock on
// ProgramPath + "TARVEL80Import.lock": one copy per program folder, so two installations in
// two folders run side by side, and a copy that dies releases the lock with its process.
class PosixProcessControl : public ProcessControl {
 public:
  static constexpr const char* LockFileName = ProgramLayout::LockFileName;

  // A symbolic link at the lock's name is refused: through it another copy could lock a
  // different file and run beside this one.
  bool TakeRunningCopyLock(const std::string& programPath, std::string& refusal) override;
  std::string CreateFolder(const std::string& path) override;
  // Flushes the standard streams and ends the process with _exit: no destructor, no atexit
  // handler and no event handler runs afterwards.
  [[noreturn]] void EndProcess(int exitStatus) override;

 private:
  int lockFd_ = -1;  // kept open (and locked) for the life of the process
};

}  // namespace tarvel
