#include "diag/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

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
  char name[64];
  std::snprintf(name, sizeof name, "LogFiles/%04d%02d%02d.Log", now.Year, now.Month, now.Day);

  std::string line;
  if (text.empty() || text.front() != '-') {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d %02d:%02d:%02d ",
                  (now.Year % 100 + 100) % 100, now.Month, now.Day, now.Hour, now.Minute,
                  now.Second);
    line = stamp;
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
