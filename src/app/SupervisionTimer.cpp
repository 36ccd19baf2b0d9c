#include "app/SupervisionTimer.h"

namespace tarvel {

SupervisionTimer::SupervisionTimer(std::span<InputPort> ports, UpdateTimer& timer,
                                   AlarmServerLink& link)
    : ports_(ports), timer_(timer), link_(link) {}

void SupervisionTimer::TimerUpdateTimer() {
  timer_.SetEnabled(false);
  // On again however the tick ends: a fault, caught by the event queue's fence, ends this tick
  // only.
  struct EnableAgain {
    UpdateTimer& Timer;
    ~EnableAgain() { Timer.SetEnabled(true); }
  } enableAgain{timer_};
  ++ticks_;
  const int32_t interval = timer_.Interval();
  for (InputPort& port : ports_) port.Tick(interval);
  TickMilliseconds_ += interval;
  const bool secondEnded = TickMilliseconds_ >= MillisecondsPerStep;
  if (secondEnded) {
    TickMilliseconds_ = 0;  // the excess over a second is dropped
    for (InputPort& port : ports_) port.PerSecond();
  }
  link_.Tick(secondEnded);
}

}  // namespace tarvel
