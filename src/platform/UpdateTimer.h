#pragma once

#include <cstdint>
#include <functional>

namespace tarvel {

// The supervision tick: a periodic callback on the event loop. The handler switches the timer
// off at its start and on at its end, so ticks never overlap and the next one comes one
// interval after the end of the last.
class UpdateTimer {
 public:
  virtual ~UpdateTimer() = default;
  virtual void SetHandler(std::function<void()> onTimer) = 0;
  // Milliseconds between ticks (100).
  virtual int32_t Interval() const = 0;
  // Enabling (re)starts a full interval; disabling drops a tick not yet delivered.
  virtual void SetEnabled(bool enabled) = 0;
};

}  // namespace tarvel
