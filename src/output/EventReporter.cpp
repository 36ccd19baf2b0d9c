#include "output/EventReporter.h"

#include "text/DateTime.h"
#include "text/DecimalText.h"
#include "text/LineWords.h"

namespace tarvel {

EventReporter::EventReporter(ProgramState& state, const Clock& clock, OstrelConnection& ostrel)
    : state_(state), clock_(clock), ostrel_(ostrel) {}

void EventReporter::ReportEvent(int16_t port, std::string_view cleanedLine, bool isHeader) {
  if (port < 0 || port >= PortCount) return;
  PendingEvent& pending = pending_[port];
  if (isHeader) {
    if (pending.PendingLineCount > 0) FlushPendingEvent(port, clock_.Now());
    pending.PendingEventMs = 0;
    pending.PendingEventLines[0].assign(cleanedLine);
    pending.PendingLineCount = 1;
  } else if (!cleanedLine.empty() && pending.PendingLineCount < MaxPendingLines) {
    // A text line while nothing is pending takes index 0, and is sent at its flush only if
    // its second word is NORMAL or ALARM.
    pending.PendingEventLines[pending.PendingLineCount].assign(cleanedLine);
    ++pending.PendingLineCount;
  }
}

void EventReporter::AgePendingEvent(int16_t port, int32_t elapsedMs) {
  if (port < 0 || port >= PortCount) return;
  PendingEvent& pending = pending_[port];
  pending.PendingEventMs += elapsedMs;
  if (pending.PendingEventMs > FlushAfterMs) {
    if (pending.PendingLineCount > 0) FlushPendingEvent(port, clock_.Now());
    pending.PendingEventMs = 0;
  }
}

void EventReporter::FlushPendingEvent(int16_t port, const LocalTime& now) {
  PendingEvent& pending = pending_[port];
  // The lines are cleaned already: joined by one blank they are as CleanText leaves them.
  std::string header = std::move(pending.PendingEventLines[0]);
  std::string body;
  for (int index = 1; index < pending.PendingLineCount; ++index) {
    if (pending.PendingEventLines[index].empty()) continue;
    if (!body.empty()) body.append(1, ' ');
    body.append(pending.PendingEventLines[index]);
  }
  for (std::string& line : pending.PendingEventLines) line.clear();
  pending.PendingLineCount = 0;

  // A stamp in the text lines wins over one in the header; with none, the flush time stands.
  DateTime stamp = ExtractDateTime(DateTime::FromLocalTime(now), header, clock_);
  stamp = ExtractDateTime(stamp, body, clock_);

  std::size_t position = 0;
  NextWord(header, position);
  const std::string_view eventWord = NextWord(header, position);
  int16_t stateCode;
  if (SameWordIgnoringCase(eventWord, "NORMAL")) {
    stateCode = 0;
  } else if (SameWordIgnoringCase(eventWord, "ALARM")) {
    stateCode = 1;
  } else {
    ++state_.Statistics.Ports[port].LinesRejected;
    return;
  }
  ++state_.Statistics.Ports[port].EventsForwarded;
  SendEventLine(stateCode, stamp, header, body);
}

void EventReporter::SendEventLine(int16_t stateCode, std::string_view eventDate,
                                  std::string_view eventTime, std::string_view tag,
                                  std::string_view text) {
  eventLine_.clear();
  AppendDecimal(eventLine_, stateCode);
  eventLine_.append(1, '|').append(eventDate).append(1, '|').append(eventTime);
  eventLine_.append(1, '|').append(tag).append("||||").append(text).append(1, '\n');
  ostrel_.SendOrKeep(eventLine_);
}

void EventReporter::SendEventLine(int16_t stateCode, const DateTime& stamp, std::string_view tag,
                                  std::string_view text) {
  eventLine_.clear();
  AppendDecimal(eventLine_, stateCode);
  eventLine_.append(1, '|');
  AppendDate(eventLine_, stamp);
  eventLine_.append(1, '|');
  AppendTime(eventLine_, stamp);
  eventLine_.append(1, '|').append(tag).append("||||").append(text).append(1, '\n');
  ostrel_.SendOrKeep(eventLine_);
}

}  // namespace tarvel
