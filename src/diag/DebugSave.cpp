#include "diag/DebugSave.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/WriteAll.h"

#include "text/DateTime.h"

namespace tarvel {

namespace {

constexpr const char* LineEnd = "\r\n";

std::string DateTimeText(const LocalTime& now) {
  const DateTime value = DateTime::FromLocalTime(now);
  return FormatDate(value) + " " + FormatTime(value);
}

std::string RowNumber(int index) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d ", index);
  return text;
}

}  // namespace

DebugSave::DebugSave(const Clock& clock) : clock_(clock) {}

std::string DebugSave::DebugInfoBlock(const DebugListView& list, const LocalTime& now) {
  std::string block = "DEBUG INFO";
  block += LineEnd;
  block += "Saved from TARVEL80 Import for Ostrel Alarm Server Debug " + DateTimeText(now);
  block += LineEnd;
  block += std::string(100, '-') + LineEnd;
  for (int index = 0; index < list.ListCount(); ++index)
    block += RowNumber(index) + list.Item(index) + LineEnd;
  block += std::string(80, '-') + LineEnd;
  return block;
}

bool DebugSave::SaveDebugInfo(const std::string& programPath, const DebugListView& list) const {
  // Built in full before the file is opened, so that the file stays open only for one write.
  const std::string block = DebugInfoBlock(list, clock_.Now());
  // A link at the file's name is never written through, and a pipe there never blocks.
  const int fd = ::open((programPath + FileName).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, block) == block.size();
  return ::close(fd) == 0 && written;
}

}  // namespace tarvel
