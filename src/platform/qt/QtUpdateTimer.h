#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/UpdateTimer.h"

class QTimer;

namespace tarvel {

// The supervision tick over a QTimer of 100 ms, running from construction. The timer is a
// precise one: every period of the supervision is counted in ticks taken as exactly 100 ms, and
// a coarse timer (up to 5 % late on Linux) would stretch failure timeouts and the watchdog by as
// much; one precise timer at ten ticks a second costs nothing.
class QtUpdateTimer : public UpdateTimer {
 public:
  static constexpr int32_t DefaultInterval = 100;

  explicit QtUpdateTimer(int32_t interval = DefaultInterval);
  ~QtUpdateTimer() override;
  QtUpdateTimer(const QtUpdateTimer&) = delete;
  QtUpdateTimer& operator=(const QtUpdateTimer&) = delete;

  void SetHandler(std::function<void()> onTimer) override;
  int32_t Interval() const override;
  void SetEnabled(bool enabled) override;

 private:
  void OnTimeout();

  std::unique_ptr<QTimer> timer_;
  std::function<void()> onTimer_;
  // Bumped by SetEnabled, so a tick queued before it is dropped.
  uint64_t generation_ = 0;
  bool tickQueued_ = false;
};

}  // namespace tarvel
