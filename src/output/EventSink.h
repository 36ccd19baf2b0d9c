#pragma once

#include "event/Event.h"

namespace tarvel {

// Where the input side hands every finished event (received, or a port's failure, reminder or
// restore): the sink writes its alarm-server line, where it is to go, without a copy between.
class EventSink {
 public:
  virtual ~EventSink() = default;
  // The event's line leaves the gateway (sent or kept) by the next Flush() at the latest.
  virtual void Forward(const EventView& event) = 0;
  // Every line forwarded so far goes out now: sent, or written to the keep file. The input side
  // calls it after each reception and after its timed work, before control returns to the
  // event loop, so that the lines of one reception leave together.
  virtual void Flush() = 0;
};

}  // namespace tarvel
