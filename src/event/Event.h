#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/DateTime.h"

namespace tarvel {

// What an event tells the alarm server; its number is the state code of the line.
enum class EventState : int16_t {
  Normal = 0,        // back to normal, a port restored
  Alarm = 1,         // also a delay, a port failed or still bad, the watchdog
  Acknowledged = 2,  // single-line messages only
};

// One event on its way to the alarm server.
struct Event {
  EventState State = EventState::Normal;
  std::optional<DateTime> Stamp;  // none for the gateway's own events: date and time stay empty
  std::string Tag;                // the point or connection the event is about
  std::string Text;
};

// The two message formats of TARVEL80 equipment. They accept different state words: a
// single-line message may also say DELAY (an alarm) or ACKNOW, a multi-line header only NORMAL
// or ALARM (so ACK DELAY is no header, and a collected event with another word is dropped).
enum class MessageFormat { SingleLine, MultiLine };

// The state a word names in that format, in any letter case; none for another word.
std::optional<EventState> StateOfWord(std::string_view word, MessageFormat format);

}  // namespace tarvel
