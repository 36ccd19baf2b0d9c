#include "diag/DebugSave.h"

#include <cstdio>

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

DebugSave::DebugSave(const Clock& clock, FileAccess& files) : clock_(clock), files_(files) {}

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
  return files_.AppendToFile(programPath + FileName, block);
}

}  // namespace tarvel
