#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ProcessControl.h"

namespace tarvel {

// A process that never ends: EndProcess records the status, so tests can look afterwards.
class FakeProcessControl : public ProcessControl {
 public:
  bool TakeRunningCopyLock(const std::string& programPath, std::string& refusal) override {
    lockPath_ = programPath;
    refusal = refusal_;
    return !anotherCopyRunning_ && refusal_.empty();
  }
  std::string CreateFolder(const std::string& path) override {
    folders_.push_back(path);
    return folderFailure_;
  }
  void EndProcess(int exitStatus) override { endStatuses_.push_back(exitStatus); }

  // Test controls.
  void AnotherCopyRunning() { anotherCopyRunning_ = true; }
  void RefuseLock(const std::string& reason) { refusal_ = reason; }
  void FailFolders(const std::string& reason) { folderFailure_ = reason; }
  const std::string& LockPath() const { return lockPath_; }
  const std::vector<std::string>& Folders() const { return folders_; }
  const std::vector<int>& EndStatuses() const { return endStatuses_; }

 private:
  bool anotherCopyRunning_ = false;
  std::string refusal_;
  std::string lockPath_;
  std::string folderFailure_;
  std::vector<std::string> folders_;
  std::vector<int> endStatuses_;
};

}  // namespace tarvel
