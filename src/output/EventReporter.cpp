#include "output/EventReporter.h"

#include <optional>

#include "text/DateTime.h"
#include "text/DecimalText.h"
#include "text/LineWords.h"
#include "text/TextFields.h"

namespace tarvel {

EventReporter::EventReporter(ProgramState& state, const Clock& clock, OstrelConnection& ostrel)
    : state_(state), clock_(clock), ostrel_(ostrel) {}

void EventReporter::ReportEvent(int16_t port, std::string_view line, int32_t elapsedMs) {
  if (port < 0 || port >= PortCount) return;
  // One reading of the clock serves every flush of this call.
  std::optional<LocalTime> now;
  auto flushTime = [&]() -> const LocalTime& {
    if (!now) now = clock_.Now();
    return *now;
  };
  PendingEvent& pending = pending_[port];

  pending.PendingEventMs += elapsedMs;
  if (pending.PendingEventMs > FlushAfterMs) {
    if (pending.PendingLineCount > 0) FlushPendingEvent(port, flushTime());
    pending.PendingEventMs = 0;
  }

  if (IsHeaderLine(line)) {
    if (pending.PendingLineCount > 0) FlushPendingEvent(port, flushTime());
    pending.PendingEventMs = 0;
    pending.PendingEventLines[0].assign(line);
    pending.PendingLineCount = 1;
  } else if (!line.empty() && pending.PendingLineCount < MaxPendingLines) {
    // A text line while nothing is pending takes index 0, and is sent at its flush only if
    // its second word is NORMAL or ALARM.
    pending.PendingEventLines[pending.PendingLineCount].assign(line);
    ++pending.PendingLineCount;
  }
}

void EventReporter::FlushPendingEvent(int16_t port, const LocalTime& now) {
  PendingEvent& pending = pending_[port];
  std::string header = CleanText(pending.PendingEventLines[0]);
  std::string body = CleanText(pending.PendingEventLines[1] + " " + pending.PendingEventLines[2] +
                               " " + pending.PendingEventLines[3]);
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
  SendEventLine(stateCode, FormatDate(stamp), FormatTime(stamp), header, body);
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

}  // namespace tarvel
