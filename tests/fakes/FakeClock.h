#pragma once

#include "platform/Clock.h"

namespace tarvel {

// A clock that tests set and step by hand.
class FakeClock : public Clock {
 public:
  LocalTime Now() const override { return now_; }
  void Set(int year, int month, int day, int hour, int minute, int second) {
    now_ = LocalTime{year, month, day, hour, minute, second, 0};
  }

 private:
  LocalTime now_{2017, 6, 7, 12, 34, 56, 0};
};

}  // namespace tarvel
