#pragma once

#include <cstdint>
#include <string>

#include "diag/LogFile.h"
#include "platform/Clock.h"

namespace tarvel {

// Deletes daily log files (YYYYMMDD.Log in the log folder) older than LogRetentionDays: with N
// days, today's file and those of the N days before stay. Looks once per calendar day; touches no
// other file (another name, a folder, a link's target). 0 or less keeps every file.
class LogRetention {
 public:
  // logPath: the log folder, ending in "/".
  LogRetention(const Clock& clock, LogFile& log, const std::string& logPath,
               const int32_t& retentionDays)
      : clock_(clock), log_(log), logPath_(logPath), retentionDays_(retentionDays) {}

  // Call as often as wanted from the event loop; the folder is read at most once a day.
  void Check();

 private:
  const Clock& clock_;
  LogFile& log_;
  const std::string& logPath_;
  const int32_t& retentionDays_;
  int lastDay_ = 0;  // YYYYMMDD of the last look
};

}  // namespace tarvel
