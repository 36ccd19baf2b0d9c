#pragma once

#include <array>
#include <cstdint>

#include "diag/LogFile.h"
#include "event/Event.h"
#include "output/AlarmServerLink.h"
#include "output/EventReporter.h"
#include "platform/UpdateTimer.h"
#include "state/Controls.h"
#include "state/ProgramState.h"

namespace tarvel {

// The 100 ms supervision tick: ages the collected multi-line events, and once per second (ten
// ticks) reconnects TCP client ports and supervises every used port for silence; then it ticks
// the alarm-server link (the watchdog line, the kept lines). Time is counted in
// ticks, so late ticks stretch every period alike.
// Per-second steps until a TCP client port that is not connected makes its next connection
// attempt, the step that makes it counted: 1 is the next step. The reconnect follows this
// schedule, and the status page reads it from here.
int32_t StepsUntilReconnect(const PortActivity& activity);

class SupervisionTimer {
 public:
  static constexpr int32_t MillisecondsPerStep = 1000;

  // log, when given, also gets each failure and reminder line.
  SupervisionTimer(ProgramState& state, const Controls& controls, UpdateTimer& timer,
                   EventReporter& reporter, AlarmServerLink& link, LogFile* log = nullptr);

  // One tick. The timer is off while it runs, so ticks never overlap.
  void TimerUpdateTimer();

 private:
  void PerSecondStep();
  void Reconnect(int16_t port);
  void SuperviseSilence(int16_t port);
  // A failure or reminder line, also written to the log when there is one.
  void SendPortEvent(const Event& event);

  ProgramState& state_;
  const Controls& controls_;
  UpdateTimer& timer_;
  EventReporter& reporter_;
  AlarmServerLink& link_;
  LogFile* log_;
  int32_t TickMilliseconds_ = 0;  // timer intervals not yet taken as a whole second
};

}  // namespace tarvel
