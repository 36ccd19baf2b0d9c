#include "diag/LogRetention.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>

namespace tarvel {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

// The date of a daily log file's name "YYYYMMDD.Log"; nothing for any other name.
std::optional<sys_days> LogFileDate(const std::string& name) {
  if (name.size() != 12 || name.compare(8, 4, ".Log") != 0) return std::nullopt;
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    digits[i] = name[i] - '0';
  }
  const year_month_day date{year(digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3]),
                            month(static_cast<unsigned>(digits[4] * 10 + digits[5])),
                            day(static_cast<unsigned>(digits[6] * 10 + digits[7]))};
  if (!date.ok()) return std::nullopt;
  return sys_days(date);
}

}  // namespace

void LogRetention::Check() {
  if (retentionDays_ <= 0) return;
  const LocalTime now = clock_.Now();
  const int today = now.Year * 10000 + now.Month * 100 + now.Day;
  if (today == lastDay_) return;
  lastDay_ = today;
  const sys_days todayDate(year_month_day{year(now.Year), month(static_cast<unsigned>(now.Month)),
                                          day(static_cast<unsigned>(now.Day))});
  namespace fs = std::filesystem;
  std::error_code error;
  int deleted = 0;
  for (fs::directory_iterator it(logPath_, error), end; !error && it != end; it.increment(error)) {
    const std::optional<sys_days> date = LogFileDate(it->path().filename().string());
    if (!date || (todayDate - *date).count() <= retentionDays_) continue;
    std::error_code fileError;
    // Only a regular file itself: a link or a folder under such a name stays.
    if (!fs::is_regular_file(it->symlink_status(fileError))) continue;
    if (fs::remove(it->path(), fileError)) ++deleted;
  }
  if (deleted > 0) {
    log_.WriteLog("Deleted " + std::to_string(deleted) + " log file" + (deleted == 1 ? "" : "s") +
                  " older than " + std::to_string(retentionDays_) + " days (LogRetentionDays)");
  }
}

}  // namespace tarvel
