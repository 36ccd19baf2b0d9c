#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "output/OstrelConnection.h"
#include "platform/Clock.h"
#include "state/ProgramState.h"
#include "text/DateTime.h"

namespace tarvel {

// Builds the alarm server's event lines, "StateCode|EventDate|EventTime|Tag||||Text" and a line
// feed, and collects the multi-line events of the newer TARVEL80 format: a header line and up
// to three text lines per port, sent as one event at the next header or once the collection is
// older than a second.
class EventReporter {
 public:
  static constexpr int MaxPendingLines = 4;  // the header and three text lines
  static constexpr int32_t FlushAfterMs = 1000;

  // The event being collected on one port.
  struct PendingEvent {
    std::array<std::string, MaxPendingLines> PendingEventLines;
    int16_t PendingLineCount = 0;
    int32_t PendingEventMs = 0;  // since the header, or since the count was last reset
  };

  EventReporter(ProgramState& state, const Clock& clock, OstrelConnection& ostrel);

  // A cleaned input line (CleanText) of a port in the multi-line format; isHeader tells
  // whether it is a header line (IsHeaderLine).
  void ReportEvent(int16_t port, std::string_view cleanedLine, bool isHeader);
  // Ages the port's collection by the timer's interval; sent once older than FlushAfterMs.
  void AgePendingEvent(int16_t port, int32_t elapsedMs);

  // Builds the event line and hands it to the alarm-server connection, which sends or keeps.
  void SendEventLine(int16_t stateCode, std::string_view eventDate, std::string_view eventTime,
                     std::string_view tag, std::string_view text);
  // The same with the date and time of `stamp` (FormatDate and FormatTime).
  void SendEventLine(int16_t stateCode, const DateTime& stamp, std::string_view tag,
                     std::string_view text);

  const PendingEvent& Pending(int16_t port) const { return pending_[port]; }

 private:
  void FlushPendingEvent(int16_t port, const LocalTime& now);

  ProgramState& state_;
  const Clock& clock_;
  OstrelConnection& ostrel_;
  std::array<PendingEvent, PortCount> pending_;
  std::string eventLine_;  // reused for every event line
};

}  // namespace tarvel
