#include "diag/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "text/DateTime.h"

namespace tarvel {
namespace {

// Writes the whole line with as few write calls as the system allows; gives up on any error.
void WriteAll(int fd, const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t count = ::write(fd, line.data() + done, line.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<size_t>(count);
  }
}

}  // namespace

LogFile::LogFile(const Clock& clock, std::string programPath)
    : clock_(clock), programPath_(std::move(programPath)) {}

void LogFile::SetProgramPath(std::string programPath) {
  programPath_ = std::move(programPath);
}

void LogFile::WriteLog(const std::string& text) {
  // One reading gives both the file name and the stamp, so a line lands in its own day's file.
  const LocalTime now = clock_.Now();
  const DateTime stamp = DateTime::FromLocalTime(now);
  const std::string name = "LogFiles/" + FormatDate(stamp, "") + ".Log";

  std::string line;
  if (text.empty() || text.front() != '-') {
    line = FormatDate(stamp, "-", 2) + " " + FormatTime(stamp) + " ";
  }
  line += text;
  line += "\r\n";
  if (observer_) observer_(line);

  // O_NONBLOCK: a pipe put in the log's place must not stall the caller. The folder is never
  // created here; without it the line is lost.
  const int fd = ::open((programPath_ + name).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return;
  WriteAll(fd, line);
  ::close(fd);
}

}  // namespace tarvel
