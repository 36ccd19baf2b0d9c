#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/DateTime.h"
#include "text/LineWords.h"

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

// An event whose tag and text lie elsewhere: a received single-line message is written to its
// alarm-server line straight from the line, without copying them first.
struct EventView {
  EventView() = default;
  EventView(EventState state, const DateTime& stamp, std::string_view tag, std::string_view text)
      : State(state), Stamp(stamp), Tag(tag), Text(text) {}
  // Implicit, as a string to a string_view: an owned event is sent through the same path.
  EventView(const Event& event)
      : State(event.State), Stamp(event.Stamp), Tag(event.Tag), Text(event.Text) {}

  EventState State = EventState::Normal;
  std::optional<DateTime> Stamp;
  std::string_view Tag;
  std::string_view Text;
};

// The two message formats of TARVEL80 equipment. They accept different state words: a
// single-line message may also say DELAY (an alarm) or ACKNOW, a multi-line header only NORMAL
// or ALARM (so ACK DELAY is no header, and a collected event with another word is dropped).
enum class MessageFormat { SingleLine, MultiLine };

// The state a word names in that format, in any letter case; none for another word. Inline:
// every received line's first word is looked up, and the returned optional crossing a call
// cost more than the comparison itself.
inline std::optional<EventState> StateOfWord(std::string_view word, MessageFormat format) {
  struct StateWord {
    std::string_view UpperWord;
    EventState State;
    bool InMultiLineHeader;
  };
  static constexpr StateWord StateWords[] = {
      {"NORMAL", EventState::Normal, true},
      {"ALARM", EventState::Alarm, true},
      {"DELAY", EventState::Alarm, false},
      {"ACKNOW", EventState::Acknowledged, false},
  };
  for (const StateWord& known : StateWords) {
    if (format == MessageFormat::MultiLine && !known.InMultiLineHeader) continue;
    if (SameWordIgnoringCase(word, known.UpperWord)) return known.State;
  }
  return std::nullopt;
}

}  // namespace tarvel
