#pragma once

#include <string>

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

 private:
  const Clock& clock_;
  std::string programPath_;
};

}  // namespace tarvel
