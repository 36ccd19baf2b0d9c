#pragma once

#include <string>

#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "ui/DebugListView.h"

namespace tarvel {

// Saves the debug list for later reading: each save appends one block to
// ProgramPath + "debug.txt" (8-bit text, CR LF line ends), the file is never truncated.
class DebugSave {
 public:
  static constexpr const char* FileName = "debug.txt";

  explicit DebugSave(const Clock& clock, FileAccess& files = SystemFiles());

  // Appends one block with the list's rows, oldest first. Returns false when the file could not
  // be opened or written completely, so that the window can tell the operator. The list is never
  // changed.
  bool SaveDebugInfo(const std::string& programPath, const DebugListView& list) const;

  // The block as written: "DEBUG INFO", the title with the date and time of the save, 100 "-",
  // one "000 " + text line per row, 80 "-".
  static std::string DebugInfoBlock(const DebugListView& list, const LocalTime& now);

 private:
  const Clock& clock_;
  FileAccess& files_;
};

}  // namespace tarvel
