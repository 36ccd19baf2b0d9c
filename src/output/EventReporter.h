#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "event/Event.h"
#include "event/MultiLineAssembler.h"
#include "output/EventSink.h"
#include "platform/Clock.h"
#include "state/ProgramState.h"

namespace tarvel {

// Makes events into alarm-server lines and hands them to the event sink (the alarm-server
// link), and collects each port's multi-line events (MultiLineAssembler) until they are
// complete.
class EventReporter {
 public:
  EventReporter(ProgramState& state, const Clock& clock, EventSink& sink);

  // A cleaned input line (CleanText) of a port in the multi-line format; isHeader tells
  // whether it is a header line (IsHeaderLine).
  void ReportEvent(int16_t port, std::string_view cleanedLine, bool isHeader);
  // Ages the port's collection by the timer's interval; sent once older than a second.
  void AgePendingEvent(int16_t port, int32_t elapsedMs);

  // Builds the event line and hands it to the sink, which sends or keeps it.
  void SendEventLine(const Event& event);

 private:
  void Forward(int16_t port, MultiLineAssembler::Completed completed);

  ProgramState& state_;
  const Clock& clock_;
  EventSink& sink_;
  std::array<MultiLineAssembler, PortCount> collecting_;
  std::string eventLine_;  // reused for every event line
};

}  // namespace tarvel
