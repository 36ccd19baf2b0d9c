#include "event/AlarmServerLine.h"

#include "text/DecimalText.h"

namespace tarvel {
namespace {

void AppendStateCode(std::string& out, EventState state) {
  AppendDecimal(out, static_cast<int16_t>(state));
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

void AppendEventLine(std::string& out, const Event& event) {
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
