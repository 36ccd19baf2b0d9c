#pragma once

#include "platform/Clock.h"

namespace tarvel {

// The machine's local date and time.
class SystemClock : public Clock {
 public:
  LocalTime Now() const override;
};

}  // namespace tarvel
