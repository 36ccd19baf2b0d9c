#pragma once

#include <ctime>

#include "platform/Clock.h"

namespace tarvel {

// The machine's local date and time. Read once a reception, so the local date of the last whole
// second is kept: within a second, a reading costs the system clock alone, not the time zone's
// rules. One thread only.
class SystemClock : public Clock {
 public:
  LocalTime Now() const override;

 private:
  mutable std::time_t second_ = -1;
  mutable LocalTime local_{};
};

}  // namespace tarvel
