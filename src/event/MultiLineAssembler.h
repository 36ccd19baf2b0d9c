#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "event/Event.h"
#include "platform/Clock.h"

namespace tarvel {

// A header line of the multi-line format: ACK or NACK, then NORMAL or ALARM, in any case.
bool IsHeaderLine(std::string_view line);

// Collects one port's multi-line events: a header line and up to three text lines, completed
// by the next header or once older than a second. The header, without its time stamp, becomes
// the tag and the text lines joined by blanks the text; a stamp in the text lines wins over one
// in the header, and with none the event takes the time of its completion. The ACK or NACK
// stays the tag's first word and does not change the state.
class MultiLineAssembler {
 public:
  static constexpr int MaxLines = 4;  // the header and three text lines
  static constexpr int32_t CompleteAfterMs = 1000;

  enum class Completed {
    Nothing,
    Event,    // Collected() holds it until the next call
    Dropped,  // the first line's second word was no state word
  };

  // A cleaned line (CleanText) of the port; isHeader is IsHeaderLine of it. A header completes
  // what was collected and starts anew. A text line while nothing is collected is stored first
  // and stands as the header at completion. Empty lines and text lines beyond the third are
  // dropped. The clock is read only when an event completes.
  Completed Add(std::string_view cleanedLine, bool isHeader, const Clock& clock);
  // The supervision tick's interval has passed: the collection completes once older than
  // CompleteAfterMs (1000 ms itself is not enough). The age starts again then, also with
  // nothing collected.
  Completed Age(int32_t elapsedMs, const Clock& clock);

  const Event& Collected() const { return event_; }

 private:
  Completed Complete(const Clock& clock);

  std::array<std::string, MaxLines> lines_;
  int lineCount_ = 0;
  int32_t ageMs_ = 0;  // since the header, or since the age last started again
  Event event_;
};

}  // namespace tarvel
