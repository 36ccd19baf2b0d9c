#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/Clock.h"

namespace tarvel {

// The daily log: ProgramPath + "LogFiles/" + YYYYMMDD + ".Log", one line per WriteLog call.
class LogFile {
 public:
  LogFile(const Clock& clock, std::string programPath);
  void SetProgramPath(std::string programPath);

  // Appends "YY-MM-DD HH:NN:SS " + text + CR LF (a text starting with "-" goes unstamped).
  // Opens and closes the file within the call; every failure is ignored, and the folder is
  // never created here.
  void WriteLog(const std::string& text);

  // Called with every line WriteLog makes (stamp included, CR LF at the end), whether or not
  // the file takes it; the status page keeps the last ones. Must not write to the log.
  void SetObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }

 private:
  const Clock& clock_;
  std::string programPath_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace tarvel
