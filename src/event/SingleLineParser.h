#pragma once

#include <string_view>

#include "event/Event.h"
#include "platform/Clock.h"

namespace tarvel {

// The single-line TARVEL80 format:
// "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open": the state word, then the
// date (DD?MM?YYYY) and time (HH?MM?SS) words, then from the 20th character after the state
// word's blanks an 18-character tag and the text. Dates and times are never rejected; the clock
// is read only where a date or time falls back to today or now.
struct SingleLineParse {
  enum class Outcome {
    Parsed,            // Message holds it
    TagOrTextMissing,  // "Invalid event type: " and the rest are logged
    UnknownStateWord,  // "Unknown event type: " and the rest are logged
  };
  Outcome Result;
  std::string_view Rest;  // the text after the time (tag, padding and text), within the line
  EventView Message;      // when parsed; its tag and text point into the line
};

// Parses a trimmed, converted line. The tag and text are checked before the state word.
SingleLineParse ParseSingleLine(std::string_view line, const Clock& clock);

}  // namespace tarvel
