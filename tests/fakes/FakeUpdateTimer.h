#pragma once

#include <functional>

#include "platform/UpdateTimer.h"

namespace tarvel {

// The supervision tick, fired by hand.
class FakeUpdateTimer : public UpdateTimer {
 public:
  void SetHandler(std::function<void()> onTimer) override { onTimer_ = std::move(onTimer); }
  int32_t Interval() const override { return 100; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const { return enabled_; }
  void Tick() {
    if (onTimer_) onTimer_();
  }
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) Tick();
  }

 private:
  std::function<void()> onTimer_;
  bool enabled_ = true;
};

}  // namespace tarvel
