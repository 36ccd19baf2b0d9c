#pragma once

#include <string>
#include <vector>

#include "platform/ProcessControl.h"

namespace tarvel {

// A process that never ends: EndProcess records the status, so tests can look afterwards.
class FakeProcessControl : public ProcessControl {
 public:
  bool TakeRunningCopyLock(const std::string& programPath, std::string&) override {
    LockPath = programPath;
    return !AnotherCopyRunning;
  }
  std::string CreateFolder(const std::string& path) override {
    Folders.push_back(path);
    return FolderFailure;
  }
  void EndProcess(int exitStatus) override { EndStatuses.push_back(exitStatus); }

  bool AnotherCopyRunning = false;
  std::string FolderFailure;  // what making a folder reports
  std::string LockPath;
  std::vector<std::string> Folders;
  std::vector<int> EndStatuses;
};

}  // namespace tarvel
