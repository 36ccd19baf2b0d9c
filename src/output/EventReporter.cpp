#include "output/EventReporter.h"

#include "event/AlarmServerLine.h"

namespace tarvel {

EventReporter::EventReporter(ProgramState& state, const Clock& clock, EventSink& sink)
    : state_(state), clock_(clock), sink_(sink) {}

void EventReporter::ReportEvent(int16_t port, std::string_view cleanedLine, bool isHeader) {
  if (port < 0 || port >= PortCount) return;
  Forward(port, collecting_[port].Add(cleanedLine, isHeader, clock_));
}

void EventReporter::AgePendingEvent(int16_t port, int32_t elapsedMs) {
  if (port < 0 || port >= PortCount) return;
  Forward(port, collecting_[port].Age(elapsedMs, clock_));
}

void EventReporter::Forward(int16_t port, MultiLineAssembler::Completed completed) {
  switch (completed) {
    case MultiLineAssembler::Completed::Nothing:
      return;
    case MultiLineAssembler::Completed::Dropped:
      ++state_.Statistics.Ports[port].LinesRejected;
      return;
    case MultiLineAssembler::Completed::Event:
      ++state_.Statistics.Ports[port].EventsForwarded;
      SendEventLine(collecting_[port].Collected());
      return;
  }
}

void EventReporter::SendEventLine(const Event& event) {
  eventLine_.clear();
  AppendEventLine(eventLine_, event);
  sink_.Forward(eventLine_);
}

}  // namespace tarvel
