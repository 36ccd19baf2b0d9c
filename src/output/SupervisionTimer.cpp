#include "output/SupervisionTimer.h"

#include <algorithm>
#include <exception>

#include "event/AlarmServerLine.h"

namespace tarvel {

int32_t StepsUntilReconnect(const PortActivity& activity) {
  // The countdown starts at 0, so the first attempt comes in the first step.
  return std::max(activity.ReconnectCountdown, 1);
}

SupervisionTimer::SupervisionTimer(ProgramState& state, const Controls& controls,
                                   UpdateTimer& timer, EventReporter& reporter,
                                   AlarmServerLink& link, LogFile* log)
    : state_(state),
      controls_(controls),
      timer_(timer),
      reporter_(reporter),
      link_(link),
      log_(log) {}

void SupervisionTimer::TimerUpdateTimer() {
  timer_.SetEnabled(false);
  // On again however the tick ends: a fault, caught by the event queue's fence, ends this tick
  // only.
  struct EnableAgain {
    UpdateTimer& Timer;
    ~EnableAgain() { Timer.SetEnabled(true); }
  } enableAgain{timer_};
  ++state_.Statistics.Ticks;
  const int32_t interval = timer_.Interval();
  for (int16_t port = 0; port < PortCount; ++port) reporter_.AgePendingEvent(port, interval);
  TickMilliseconds_ += interval;
  const bool secondEnded = TickMilliseconds_ >= MillisecondsPerStep;
  if (secondEnded) {
    TickMilliseconds_ = 0;  // the excess over a second is dropped
    PerSecondStep();
  }
  link_.Tick(secondEnded);
}

void SupervisionTimer::PerSecondStep() {
  for (int16_t port = 0; port < PortCount; ++port) {
    Reconnect(port);
    SuperviseSilence(port);
  }
}

// An attempt still pending when the countdown runs out is closed and started again.
void SupervisionTimer::Reconnect(int16_t port) {
  if (state_.Ports[port].Kind != PortKind::TcpClient) return;
  SocketControl* data = controls_.WinsockData[port];
  if (data == nullptr) return;
  PortActivity& activity = state_.Activity[port];
  if (data->State() == SocketControl::Connected) {
    activity.ReconnectCountdown = state_.General.ReconnectInterval;
    return;
  }
  if (StepsUntilReconnect(activity) > 1) {
    --activity.ReconnectCountdown;
    return;
  }
  ++state_.Statistics.Ports[port].Reconnects;
  data->Close();
  data->Connect();
  activity.ReconnectCountdown = state_.General.ReconnectInterval;
}

void SupervisionTimer::SuperviseSilence(int16_t port) {
  const PortEntry& entry = state_.Ports[port];
  if (entry.Kind == PortKind::NotUsed || entry.PollFailTimeout <= 0) return;
  PortActivity& activity = state_.Activity[port];
  if (activity.SilenceSeconds >= entry.PollFailTimeout) {
    if (entry.PollFailRemindTime <= 0) return;
    if (++activity.ReminderSeconds < entry.PollFailRemindTime) return;
    SendPortEvent(PortStillBadEvent(entry.Description, port, entry.PollFailRemindTime));
    activity.ReminderSeconds = 0;
  } else if (++activity.SilenceSeconds >= entry.PollFailTimeout) {
    state_.Statistics.SilenceFailed(port);
    SendPortEvent(PortFailedEvent(entry.Description, port, entry.PollFailTimeout));
  }
}

void SupervisionTimer::SendPortEvent(const Event& event) {
  if (log_ != nullptr) log_->WriteLog(event.Text);
  reporter_.SendEventLine(event);
}

}  // namespace tarvel
