#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Clock.h"
#include "platform/FileAccess.h"

namespace tarvel {

// The daily log: the log folder (ProgramPath + ProgramLayout::LogFolderName unless --log-dir
// names another) + YYYYMMDD + ".Log", one line per WriteLog call.
//
// A day's file is bounded: once it holds DailyLimitBytes, one line says the rest of the day's
// lines are dropped, and ordinary lines are counted instead of written; the count is written
// into that day's file when the next day's first line comes, and before the next essential
// line (the stop line). 8 MiB is far above a sound day's few hundred lines, and holds half an
// hour of one port's rejected lines at their rate limit (about 260 kB a minute), four minutes
// of all eight ports', so the start of any flood is kept; with LogRetentionDays = N the folder
// stays below about N * 8 MiB.
class LogFile {
 public:
  static constexpr std::uint64_t DailyLimitBytes = 8 * 1024 * 1024;

  // Essential lines are written even past the day's limit: start, stop and the errors that end
  // the program, a handful a run.
  enum class Importance { Ordinary, Essential };

  // folder: where the daily files go, with or without a trailing "/".
  LogFile(const Clock& clock, std::string folder, std::uint64_t dailyLimitBytes = DailyLimitBytes,
          FileAccess& files = SystemFiles());
  virtual ~LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void SetFolder(std::string folder);

  // Appends "YY-MM-DD HH:NN:SS " + text + CR LF (a text starting with "-" goes unstamped).
  // Control bytes of the text are written visibly (VisibleText), so a line is always one line
  // and no escape sequence reaches a terminal showing the log. Opens and closes the file within
  // the call; every failure is ignored, and the folder is never created here.
  void WriteLog(const std::string& text, Importance importance = Importance::Ordinary);

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

 private:
  enum class Appended { Whole, Dropped, Failed };

  void WriteLine(const std::string& name, const LocalTime& now, const std::string& text,
                 Importance importance);
  // Appends one whole line to the file `name` in the log folder, which is never created here
  // (without it the line is lost). Follows no symbolic link, neither at the folder nor at the
  // file: a link loses the line and is reported once on standard error. A file that does not end
  // with CR LF (a line cut short by a full disk, in this run or an earlier one) gets one first, so
  // every line starts with a stamp or "-". An ordinary line that would take the file past the limit
  // is not written.
  Appended AppendLine(const std::string& name, const std::string& line, Importance importance);
  void ReportLink(const std::string& path);
  void WriteDroppedCount(const LocalTime& now);

  const Clock& clock_;
  FileAccess& files_;
  std::string folder_;  // without a trailing "/"
  std::uint64_t dailyLimitBytes_;
  std::function<void(const std::string&)> observer_;
  std::string reportedPath_;  // the last link reported, so a link is reported once
  std::string droppedName_;   // the file whose limit this run reached, or empty
  int64_t droppedLines_ = 0;  // ordinary lines not written since droppedSince_
  LocalTime droppedSince_;
};

}  // namespace tarvel
