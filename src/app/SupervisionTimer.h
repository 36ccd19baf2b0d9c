#pragma once

#include <cstdint>
#include <span>

#include "input/InputPort.h"
#include "output/AlarmServerLink.h"
#include "platform/UpdateTimer.h"

namespace tarvel {

// The 100 ms supervision tick: every input port does its per-tick work (the collected
// multi-line event ages) and once per second (ten ticks) its per-second work (reconnect,
// silence); then the alarm-server link ticks (the watchdog line, the kept lines). Time is
// counted in ticks, so late ticks stretch every period alike.
class SupervisionTimer {
 public:
  static constexpr int32_t MillisecondsPerStep = 1000;

  SupervisionTimer(std::span<InputPort> ports, UpdateTimer& timer, AlarmServerLink& link);

  // One tick. The timer is off while it runs, so ticks never overlap.
  void TimerUpdateTimer();
  // Ticks run since start-up, for the status model.
  const uint64_t& Ticks() const { return ticks_; }

 private:
  std::span<InputPort> ports_;
  UpdateTimer& timer_;
  AlarmServerLink& link_;
  uint64_t ticks_ = 0;
  int32_t TickMilliseconds_ = 0;  // timer intervals not yet taken as a whole second
};

}  // namespace tarvel
