#include "diag/RejectedLineLog.h"

#include <chrono>

namespace tarvel {
namespace {

// The flood is over once a whole second has passed without a line held back.
constexpr int64_t QuietSeconds = 2;
constexpr int64_t MinuteSeconds = 60;

}  // namespace

int64_t RejectedLineLog::Seconds(const LocalTime& time) {
  const std::chrono::sys_days day{std::chrono::year{time.Year} /
                                  std::chrono::month{static_cast<unsigned>(time.Month)} /
                                  std::chrono::day{static_cast<unsigned>(time.Day)}};
  return static_cast<int64_t>(day.time_since_epoch().count()) * 86400 + time.Hour * 3600 +
         time.Minute * 60 + time.Second;
}

std::string RejectedLineLog::Echo(std::string_view text) {
  if (text.size() <= EchoLength) return std::string(text);
  return std::string(text.substr(0, EchoLength)) + " (" + std::to_string(text.size() - EchoLength) +
         " more characters)";
}

void RejectedLineLog::WriteLog(int16_t port, const std::string& text) {
  if (port < 0 || port >= PortCount) return;
  const LocalTime time = clock_.Now();
  const int64_t now = Seconds(time);
  PortCounts& counts = ports_[port];
  WriteCountIfOver(port, now);
  // A clock set back starts both windows afresh, so a port is never silenced for long.
  if (now != counts.SecondStart) {
    counts.SecondStart = now;
    counts.SecondCount = 0;
  }
  if (now - counts.MinuteStart >= MinuteSeconds || now < counts.MinuteStart) {
    counts.MinuteStart = now;
    counts.MinuteCount = 0;
  }
  if (counts.SecondCount < kind_.PerSecond && counts.MinuteCount < kind_.PerMinute) {
    ++counts.SecondCount;
    ++counts.MinuteCount;
    log_.WriteLog(text);
    return;
  }
  if (counts.HeldBack == 0) {
    counts.FirstHeldAt = now;
    counts.FirstHeldTime = time;
  }
  ++counts.HeldBack;
  counts.LastHeldAt = now;
  anyHeldBack_ = true;
}

void RejectedLineLog::WriteHeldBackCounts() {
  if (!anyHeldBack_) return;
  const int64_t now = Seconds(clock_.Now());
  anyHeldBack_ = false;
  for (int16_t port = 0; port < PortCount; ++port) {
    WriteCountIfOver(port, now);
    if (ports_[port].HeldBack > 0) anyHeldBack_ = true;
  }
}

// Written when the flood is over, or a minute after its first held-back line at the latest, so
// a steady flood is still counted once a minute.
void RejectedLineLog::WriteCountIfOver(int16_t port, int64_t now) {
  PortCounts& counts = ports_[port];
  if (counts.HeldBack == 0) return;
  const bool quiet = now - counts.LastHeldAt >= QuietSeconds;
  const bool minuteOld = now - counts.FirstHeldAt >= MinuteSeconds;
  if (!quiet && !minuteOld && now >= counts.LastHeldAt) return;
  log_.WriteLog(std::to_string(counts.HeldBack) + " more " + kind_.Counted + " on port (" +
                std::to_string(port) + ") since " + LogFile::Stamp(counts.FirstHeldTime));
  counts.HeldBack = 0;
}

}  // namespace tarvel
