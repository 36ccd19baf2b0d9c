#pragma once

#include <string_view>

namespace tarvel {

// Where the input side hands every finished alarm-server line (an event, or a port's failure,
// reminder or restore line): one line, ending in a line feed.
class EventSink {
 public:
  virtual ~EventSink() = default;
  // The line leaves the gateway (sent or kept) by the next Flush() at the latest.
  virtual void Forward(std::string_view line) = 0;
  // Every line forwarded so far goes out now: sent, or written to the keep file. The input side
  // calls it after each reception and after its timed work, before control returns to the
  // event loop, so that the lines of one reception leave together.
  virtual void Flush() = 0;
};

}  // namespace tarvel
