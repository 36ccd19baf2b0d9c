#include "diag/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform/WriteAll.h"
#include "text/DateTime.h"

namespace tarvel {
namespace {

bool IsControl(unsigned char c) {
  return c < 32 || c == 127;
}

}  // namespace

LogFile::LogFile(const Clock& clock, std::string folder, std::uint64_t dailyLimitBytes)
    : clock_(clock), dailyLimitBytes_(dailyLimitBytes) {
  SetFolder(std::move(folder));
}

void LogFile::SetFolder(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  folder_ = std::move(folder);
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

void LogFile::WriteLog(const std::string& text, Importance importance) {
  // One reading gives both the file name and the stamp, so a line lands in its own day's file.
  const LocalTime now = clock_.Now();
  const std::string name = FormatDate(DateTime::FromLocalTime(now), "") + ".Log";
  if (droppedLines_ > 0 && (name != droppedName_ || importance == Importance::Essential))
    WriteDroppedCount(now);
  if (name != droppedName_) droppedName_.clear();  // a new day's file starts below the limit
  WriteLine(name, now, text, importance);
}

void LogFile::WriteLine(const std::string& name, const LocalTime& now, const std::string& text,
                        Importance importance) {
  std::string line;
  if (text.empty() || text.front() != '-') line = Stamp(now) + " ";
  line += VisibleText(text);
  line += "\r\n";
  if (observer_) observer_(line);
  if (AppendLine(name, line, importance) != Appended::Dropped) return;
  if (droppedName_ != name) {
    droppedName_ = name;
    WriteLine(name, now,
              "Log file reached " + std::to_string(dailyLimitBytes_) +
                  " bytes: the rest of the day's lines are dropped",
              Importance::Essential);
  }
  if (droppedLines_ == 0) droppedSince_ = now;
  ++droppedLines_;
}

// Into the file whose lines were dropped, with the stamp of the line that ends the count.
void LogFile::WriteDroppedCount(const LocalTime& now) {
  const std::string text =
      std::to_string(droppedLines_) + " log lines dropped since " + Stamp(droppedSince_);
  droppedLines_ = 0;
  WriteLine(droppedName_, now, text, Importance::Essential);
}

void LogFile::ReportLink(const std::string& path) {
  if (reportedPath_ == path) return;
  reportedPath_ = path;
  std::fprintf(stderr, "tarvel80import: %s is a symbolic link; log lines are not written\n",
               path.c_str());
}

LogFile::Appended LogFile::AppendLine(const std::string& name, const std::string& line,
                                      Importance importance) {
  // O_NOFOLLOW on the folder and the file: a link put at either must not make the gateway
  // write elsewhere. The folder is never created here; without it the line is lost.
  const int folderFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folderFd < 0) {
    // A link at a folder opened with O_DIRECTORY fails with ENOTDIR, as a plain file there does.
    struct stat link {};
    if (errno == ENOTDIR && ::lstat(folder_.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      ReportLink(folder_);
    return Appended::Failed;
  }
  // O_NONBLOCK: a pipe put in the log's place must not stall the caller (and is refused below).
  // O_RDWR: the file's last bytes are read to end a cut line.
  const int fd = ::openat(folderFd, name.c_str(),
                          O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
  const int openError = errno;
  ::close(folderFd);
  if (fd < 0) {
    if (openError == ELOOP) ReportLink(folder_ + "/" + name);
    return Appended::Failed;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return Appended::Failed;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  std::string_view ending;
  char tail[2] = {'\r', '\n'};
  const off_t tailSize = size >= 2 ? 2 : static_cast<off_t>(size);
  if (tailSize > 0 && ::pread(fd, tail + 2 - tailSize, static_cast<size_t>(tailSize),
                              status.st_size - tailSize) == tailSize) {
    if (tail[1] == '\r') {
      ending = "\n";
    } else if (tail[0] != '\r' || tail[1] != '\n') {
      ending = "\r\n";
    }
  }
  if (importance == Importance::Ordinary && size + ending.size() + line.size() > dailyLimitBytes_) {
    ::close(fd);
    return Appended::Dropped;
  }
  const std::string text = std::string(ending) + line;
  const size_t written = WriteAll(fd, text);
  ::close(fd);
  return written == text.size() ? Appended::Whole : Appended::Failed;
}

}  // namespace tarvel
