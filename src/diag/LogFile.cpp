#include "diag/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/WriteAll.h"
#include "text/DateTime.h"

namespace tarvel {
namespace {

bool IsControl(unsigned char c) {
  return c < 32 || c == 127;
}

}  // namespace

LogFile::LogFile(const Clock& clock, std::string programPath)
    : clock_(clock), programPath_(std::move(programPath)) {}

void LogFile::SetProgramPath(std::string programPath) {
  programPath_ = std::move(programPath);
}

std::string LogFile::Stamp(const LocalTime& time) {
  const DateTime value = DateTime::FromLocalTime(time);
  return FormatDate(value, "-", 2) + " " + FormatTime(value);
}

std::string LogFile::VisibleText(std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string visible;
  visible.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!IsControl(byte)) {
      visible += c;
      continue;
    }
    visible += "\\x";
    visible += Hex[byte >> 4];
    visible += Hex[byte & 0x0F];
  }
  return visible;
}

void LogFile::WriteLog(const std::string& text) {
  // One reading gives both the file name and the stamp, so a line lands in its own day's file.
  const LocalTime now = clock_.Now();
  const DateTime stamp = DateTime::FromLocalTime(now);
  const std::string name = "LogFiles/" + FormatDate(stamp, "") + ".Log";

  std::string line;
  if (text.empty() || text.front() != '-') line = Stamp(now) + " ";
  line += VisibleText(text);
  line += "\r\n";
  if (observer_) observer_(line);
  AppendLine(programPath_ + name, line);
}

void LogFile::AppendLine(const std::string& path, const std::string& line) {
  // O_NONBLOCK: a pipe put in the log's place must not stall the caller. O_NOFOLLOW: a link
  // put there must not make the gateway write elsewhere. The folder is never created here;
  // without it the line is lost.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == ELOOP && reportedPath_ != path) {
      reportedPath_ = path;
      std::fprintf(stderr, "tarvel80import: %s is a symbolic link; log lines are not written\n",
                   path.c_str());
    }
    return;
  }
  const std::string text = tornPath_ == path ? "\r\n" + line : line;
  const size_t written = WriteAll(fd, text);
  ::close(fd);
  if (written == text.size()) {
    tornPath_.clear();
  } else if (written > 0) {
    tornPath_ = path;
  }
}

}  // namespace tarvel
