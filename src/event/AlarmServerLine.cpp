#include "event/AlarmServerLine.h"

#include <algorithm>
#include <cstring>

#include "text/DecimalText.h"

namespace tarvel {
namespace {

// Copies a field of up to 32 bytes with two fixed-size moves, which the compiler makes inline
// (the library's call costs more than such a copy; a tag has at most 18 bytes); longer ones
// go to the library. Gives the end.
char* CopyField(char* to, std::string_view from) {
  const char* source = from.data();
  const std::size_t size = from.size();
  if (size >= 8 && size <= 16) {
    std::memcpy(to, source, 8);
    std::memcpy(to + size - 8, source + size - 8, 8);
  } else if (size > 16 && size <= 32) {
    std::memcpy(to, source, 16);
    std::memcpy(to + size - 16, source + size - 16, 16);
  } else {
    std::copy(from.begin(), from.end(), to);
  }
  return to + size;
}

void AppendStateCode(std::string& out, EventState state) {
  AppendDecimal(out, static_cast<int16_t>(state));
}

// The line of an event with a one-digit state and a usual stamp (or none), which is every event
// but a made-up one: written in place after one resize, since every received event passes
// here and a line built append by append costs more than its parse. False, and nothing written,
// for another event.
bool AppendUsualEventLine(std::string& out, const EventView& event) {
  const auto code = static_cast<int16_t>(event.State);
  if (code < 0 || code > 9) return false;
  constexpr std::string_view EmptyFields = "||||";  // between the tag and the text
  const std::size_t stampLength = event.Stamp ? UsualStampLength : 1;  // "date|time" or "|"
  const std::size_t start = out.size();
  out.resize(start + 2 + stampLength + 1 + event.Tag.size() + EmptyFields.size() +
             event.Text.size() + 1);
  char* at = out.data() + start;
  *at++ = static_cast<char>('0' + code);
  *at++ = '|';
  if (event.Stamp) {
    // Straight into the line: written elsewhere and copied in, the stamp's digits would be read
    // back before they had settled, which holds the copy up longer than the writing takes.
    if (!WriteUsualStamp(at, *event.Stamp)) {
      out.resize(start);
      return false;
    }
    at[UsualDateLength] = '|';
    at += UsualStampLength;
  } else {
    *at++ = '|';
  }
  *at++ = '|';
  at = CopyField(at, event.Tag);
  std::memcpy(at, EmptyFields.data(), EmptyFields.size());
  at = CopyField(at + EmptyFields.size(), event.Text);
  *at = '\n';
  return true;
}

// "TARVEL80 Connection 'Fire panel' (3)" and what became of it.
Event PortEvent(EventState state, std::string_view description, int16_t port,
                std::string_view condition) {
  Event event{state, std::nullopt, std::string(description), "TARVEL80 Connection '"};
  event.Text.append(description).append("' (");
  AppendDecimal(event.Text, port);
  event.Text.append(") ").append(condition);
  return event;
}

}  // namespace

void AppendEventLine(std::string& out, const EventView& event) {
  if (AppendUsualEventLine(out, event)) return;
  AppendStateCode(out, event.State);
  out.append(1, '|');
  if (event.Stamp) AppendDate(out, *event.Stamp);
  out.append(1, '|');
  if (event.Stamp) AppendTime(out, *event.Stamp);
  out.append(1, '|').append(event.Tag).append("||||").append(event.Text).append(1, '\n');
}

std::string WatchdogLine(std::string_view tagName) {
  std::string line;
  AppendStateCode(line, EventState::Alarm);
  line.append("|||").append(tagName).append(1, '\n');
  return line;
}

Event PortFailedEvent(std::string_view description, int16_t port, int32_t pollFailTimeout) {
  Event event = PortEvent(EventState::Alarm, description, port, "have failed (no events within ");
  AppendDecimal(event.Text, pollFailTimeout);
  event.Text.append(" s)");
  return event;
}

Event PortStillBadEvent(std::string_view description, int16_t port, int32_t pollFailRemindTime) {
  Event event = PortEvent(EventState::Alarm, description, port, "is still bad (cyclic ");
  AppendDecimal(event.Text, pollFailRemindTime);
  event.Text.append(" s reminder)");
  return event;
}

Event PortRestoredEvent(std::string_view description, int16_t port) {
  return PortEvent(EventState::Normal, description, port, "has been restored");
}

}  // namespace tarvel
