#include "platform/posix/SystemClock.h"

namespace tarvel {

LocalTime SystemClock::Now() const {
  timespec now{};
  // The kernel's last tick (a few milliseconds of resolution; every reader wants seconds): a
  // fifth of the cost of the exact time on a virtual machine, where the exact time may be a
  // system call.
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  if (now.tv_sec != second_) {
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    local_ = LocalTime{local.tm_year + 1900,
                       local.tm_mon + 1,
                       local.tm_mday,
                       local.tm_hour,
                       local.tm_min,
                       local.tm_sec,
                       0};
    second_ = now.tv_sec;
  }
  LocalTime result = local_;
  result.Millisecond = static_cast<int>(now.tv_nsec / 1'000'000);
  return result;
}

}  // namespace tarvel
