#pragma once

#include <string_view>

namespace tarvel {

// Where the input side hands every finished alarm-server line (an event, or a port's failure,
// reminder or restore line): one line, ending in a line feed.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Forward(std::string_view line) = 0;
};

}  // namespace tarvel
