#include "diag/LogFile.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "text/DateTime.h"

namespace tarvel {
namespace {

bool IsControl(unsigned char c) {
  return c < 32 || c == 127;
}

}  // namespace

LogFile::LogFile(const Clock& clock, std::string folder, std::uint64_t dailyLimitBytes,
                 FileAccess& files)
    : clock_(clock), files_(files), dailyLimitBytes_(dailyLimitBytes) {
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
  const FileAccess::Appended appended = files_.AppendInFolder(
      folder_, name, [&](uint64_t size, std::string_view lastBytes) -> std::optional<std::string> {
        std::string_view ending;
        if (!lastBytes.empty()) {
          char tail[2] = {'\r', '\n'};
          lastBytes.copy(tail + 2 - lastBytes.size(), lastBytes.size());
          if (tail[1] == '\r') {
            ending = "\n";
          } else if (tail[0] != '\r' || tail[1] != '\n') {
            ending = "\r\n";
          }
        }
        if (importance == Importance::Ordinary &&
            size + ending.size() + line.size() > dailyLimitBytes_)
          return std::nullopt;
        return std::string(ending) + line;
      });
  switch (appended) {
    case FileAccess::Appended::Whole:
      return Appended::Whole;
    case FileAccess::Appended::Declined:
      return Appended::Dropped;
    case FileAccess::Appended::FolderIsLink:
      ReportLink(folder_);
      break;
    case FileAccess::Appended::FileIsLink:
      ReportLink(folder_ + "/" + name);
      break;
    case FileAccess::Appended::Failed:
      break;
  }
  return Appended::Failed;
}

}  // namespace tarvel
