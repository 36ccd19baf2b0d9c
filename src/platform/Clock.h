#pragma once

namespace tarvel {

// A local calendar date and time of day, to the millisecond, as the operator's clock shows it.
struct LocalTime {
  int Year = 2000;  // four digits
  int Month = 1;    // 1..12
  int Day = 1;      // 1..31
  int Hour = 0;     // 0..23
  int Minute = 0;   // 0..59
  int Second = 0;   // 0..59
  int Millisecond = 0;
};

// The one source of the present time for the logic, so that tests can set it.
// Read once per use: a log line takes one reading for both its file name and its stamp.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

}  // namespace tarvel
