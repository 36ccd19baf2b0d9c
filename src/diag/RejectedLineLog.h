#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "platform/Clock.h"
#include "config/PortEntry.h"

namespace tarvel {

// Keeps a flood of one kind of line about an input port (rejected input lines, connection
// changes) from flooding the log: per port at most PerSecond lines in a second and PerMinute
// lines in a minute reach the log. Lines held back are counted, and once the flood is over (a
// second without a line held back), or at the latest a minute after the first one, one line
// tells how many: "N more lines rejected on port (n) since YY-MM-DD HH:NN:SS" (the kind's
// Counted words in the middle).
class RejectedLineLog {
 public:
  struct Kind {
    const char* Counted;
    int PerSecond;
    int PerMinute;
  };
  static constexpr Kind RejectedLines{"lines rejected", 20, 1000};
  // A sound port logs a few connection changes a day; a peer connecting and closing in a loop
  // wrote 27557 lines a minute. 60 a minute still show the pattern of a reconnection storm.
  static constexpr Kind ConnectionEvents{"connection events", 10, 60};

  RejectedLineLog(const Clock& clock, LogFile& log, Kind kind = RejectedLines)
      : clock_(clock), log_(log), kind_(kind) {}

  // At most EchoLength characters of a rejected line go into its log line: a line may hold
  // 32767, and a flood of such lines at the line limit would write 32 MB a minute per port.
  static constexpr std::size_t EchoLength = 200;

  // The text up to EchoLength characters, then " (N more characters)" when it is longer.
  static std::string Echo(std::string_view text);

  // Writes the text to the log unless the port is over its limit.
  void WriteLog(int16_t port, const std::string& text);

  // The log itself, for the lines that are never limited (a port's restore).
  LogFile& Log() const { return log_; }

  // Writes the count of every port whose flood is over. Call it often (every tick); it reads
  // the clock only while lines are held back.
  void WriteHeldBackCounts();

 private:
  struct PortCounts {
    int64_t SecondStart = 0;  // seconds, see SecondsNow
    int SecondCount = 0;
    int64_t MinuteStart = 0;
    int MinuteCount = 0;
    int64_t HeldBack = 0;
    int64_t FirstHeldAt = 0;
    int64_t LastHeldAt = 0;
    LocalTime FirstHeldTime;
  };

  static int64_t Seconds(const LocalTime& time);
  void WriteCountIfOver(int16_t port, int64_t now);

  const Clock& clock_;
  LogFile& log_;
  Kind kind_;
  std::array<PortCounts, PortCount> ports_{};
  bool anyHeldBack_ = false;
};

}  // namespace tarvel
