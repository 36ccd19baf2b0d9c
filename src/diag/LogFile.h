#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Clock.h"

namespace tarvel {

// The daily log: ProgramPath + "LogFiles/" + YYYYMMDD + ".Log", one line per WriteLog call.
class LogFile {
 public:
  LogFile(const Clock& clock, std::string programPath);
  virtual ~LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void SetProgramPath(std::string programPath);

  // Appends "YY-MM-DD HH:NN:SS " + text + CR LF (a text starting with "-" goes unstamped).
  // Control bytes of the text are written visibly (VisibleText), so a line is always one line
  // and no escape sequence reaches a terminal showing the log. Opens and closes the file within
  // the call; every failure is ignored, and the folder is never created here.
  void WriteLog(const std::string& text);

  // Called with every line WriteLog makes (stamp included, CR LF at the end), whether or not
  // the file takes it; the status page keeps the last ones. Must not write to the log.
  void SetObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }
  // "YY-MM-DD HH:NN:SS", the stamp of a line.
  static std::string Stamp(const LocalTime& time);

  // The text with every byte below 32 and 127 written as "\x" and two upper-case hex digits
  // (ESC as \x1B, CR LF as \x0D\x0A); bytes 128 to 255 are Latin-1 characters and stay.
  static std::string VisibleText(std::string_view text);

 protected:
  // Appends one whole line to the file (a path below the program folder). Never follows a
  // symbolic link at the file's name: a link there loses the line and is reported once on
  // standard error. A write cut short (a full disk) is ended with CR LF before the next line
  // that reaches the same file, so every line starts with a stamp or "-".
  virtual void AppendLine(const std::string& path, const std::string& line);

 private:
  const Clock& clock_;
  std::string programPath_;
  std::function<void(const std::string&)> observer_;
  std::string tornPath_;      // the file whose last line was cut short, or empty
  std::string reportedPath_;  // the last link reported, so a link is reported once
};

}  // namespace tarvel
