#include "input/ReceivedDataProcessor.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "state/ByteCounter.h"
#include "text/CharsetConversion.h"
#include "text/DateTime.h"
#include "text/DecimalText.h"
#include "text/LineWords.h"
#include "text/TextFields.h"

namespace tarvel {
namespace {

constexpr int SingleLineDateLayout = 5;  // DD?MM?YYYY
constexpr int SingleLineTimeLayout = 1;  // HH?MM?SS
constexpr int64_t SecondsPerDay = 86400;

// Where the tag starts in a single-line message (after the event type): a 10-character date,
// a blank and an 8-character time come first.
constexpr std::size_t RestStart = 19;
constexpr std::size_t TagLength = 18;

std::string_view Rest(std::string_view text, std::size_t from) {
  return from < text.size() ? text.substr(from) : std::string_view();
}

// The date with the time of day of a span from midnight, which may exceed a day or be negative.
DateTime WithTimeOfDay(DateTime date, int64_t seconds) {
  seconds %= SecondsPerDay;
  if (seconds < 0) seconds += SecondsPerDay;
  date.Hour = static_cast<int>(seconds / 3600);
  date.Minute = static_cast<int>(seconds / 60 % 60);
  date.Second = static_cast<int>(seconds % 60);
  return date;
}

}  // namespace

ReceivedDataProcessor::ReceivedDataProcessor(ProgramState& state, const Clock& clock, LogFile& log,
                                             TrafficTrace& trace,
                                             ConnectionListView& connectionList,
                                             EventReporter& reporter)
    : state_(state),
      clock_(clock),
      log_(clock, log),
      trace_(trace),
      connectionList_(connectionList),
      reporter_(reporter) {
  for (int16_t port = 0; port < PortCount; ++port) {
    ports_[port].Processor = this;
    ports_[port].Port = port;
  }
}

void ReceivedDataProcessor::ProcessReceivedData(int16_t port, std::string_view data) {
  if (port < 0 || port >= PortCount) return;
  const uint64_t linesBefore = state_.Statistics.Ports[port].LinesReceived;
  AddToByteCounter(state_.Activity[port].RxByteCount, static_cast<int64_t>(data.size()));
  state_.Statistics.Ports[port].BytesReceived += data.size();
  try {
    trace_.TraceTraffic(port, data, TrafficTrace::Received);
    ShowRxByteCount(port);
  } catch (const std::exception& fault) {
    // The debug window and the connection list never keep a line from the alarm server.
    log_.WriteLog(port, "Unexpected fault in the display of port (" + std::to_string(port) +
                            "): " + fault.what() + "; the gateway goes on");
  }
  ports_[port].Framer.Push(data, ports_[port]);
  // One clock reading per reception, not per line: a reading costs as much as framing a line.
  if (state_.Statistics.Ports[port].LinesReceived != linesBefore)
    state_.Statistics.Ports[port].LastLineAt = clock_.Now();
}

void ReceivedDataProcessor::WriteHeldBackCounts() {
  log_.WriteHeldBackCounts();
}

void ReceivedDataProcessor::ClearReceiveBuffer(int16_t port) {
  if (port < 0 || port >= PortCount) return;
  ports_[port].Framer.Clear();
}

void ReceivedDataProcessor::PortReception::Line(std::string_view rawLine) {
  try {
    Processor->TreatLine(Port, rawLine);
  } catch (const std::exception& fault) {
    // One faulty line is dropped; the lines after it are treated as usual.
    ++Processor->state_.Statistics.Ports[Port].LinesRejected;
    Processor->log_.WriteLog(
        Port, "Line dropped on port (" + std::to_string(Port) + "), " + fault.what());
  }
}

void ReceivedDataProcessor::PortReception::UnfinishedTooLong() {
  ++Processor->state_.Statistics.Ports[Port].LinesRejected;
  Processor->log_.WriteLog(Port, "Unfinished line on port (" + std::to_string(Port) + ") exceeds " +
                                     std::to_string(MaxLineLength) + " characters, dropped");
}

void ReceivedDataProcessor::PortReception::SkippedLineEnded() {
  Processor->LineCompleted(Port);
}

void ReceivedDataProcessor::ShowRxByteCount(int16_t port) {
  const PortEntry& entry = state_.Ports[port];
  if (entry.ConnectionListItem == PortEntry::NoRow) return;
  rxText_.clear();
  AppendDecimal(rxText_, state_.Activity[port].RxByteCount);
  connectionList_.SetSubItem(entry.ConnectionListItem, ConnectionListView::RxBytesColumn, rxText_);
}

void ReceivedDataProcessor::TreatLine(int16_t port, std::string_view rawLine) {
  const PortEntry& entry = state_.Ports[port];
  PortReception& parsing = ports_[port];
  // CR and FF are dropped wherever they stand; most lines hold a CR before the line feed only.
  if (!rawLine.empty() && rawLine.back() == '\r') rawLine.remove_suffix(1);
  if (std::memchr(rawLine.data(), '\r', rawLine.size()) != nullptr ||
      std::memchr(rawLine.data(), '\f', rawLine.size()) != nullptr) {
    line_.clear();
    for (const char c : rawLine) {
      if (c != '\r' && c != '\f') line_.push_back(c);
    }
    rawLine = line_;
  }
  const std::string_view trimmed = TrimBlanks(rawLine);
  if (trimmed.size() > MaxLineLength) {
    ++state_.Statistics.Ports[port].LinesRejected;
    log_.WriteLog(port, "Line too long on port (" + std::to_string(port) + "), " +
                            std::to_string(trimmed.size()) + " characters dropped");
    LineCompleted(port);
    return;
  }
  if (trimmed.data() != line_.data() || trimmed.size() != line_.size()) line_.assign(trimmed);
  if (entry.Swedish7BitASCII2ISOLatin1) Swedish7BitToLatin1(line_);
  if (entry.DOSASCII2ISOLatin1) DOSToLatin1(line_);
  // The header test reads the words as the cleaned line holds them; the cleaned line itself
  // is only made for the multi-line path.
  const bool header = IsHeaderLine(line_);
  if (header) parsing.NewParsingDetected = 1;
  if (entry.ForceOldParsing) parsing.NewParsingDetected = 0;
  if (parsing.NewParsingDetected == 1) {
    reporter_.ReportEvent(port, CleanText(line_), header);
  } else {
    ParseSingleLine(port, line_);
  }
  LineCompleted(port);
}

// "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open": the event type, then the
// date and time words, then from the 20th character on an 18-character tag and the text.
void ReceivedDataProcessor::ParseSingleLine(int16_t port, std::string_view line) {
  std::size_t position = 0;
  const std::string_view eventType = NextWord(line, position);
  const std::size_t firstBlank = line.find(' ');
  const std::string_view fields = firstBlank == std::string_view::npos
                                      ? std::string_view()
                                      : TrimBlanks(line.substr(firstBlank));
  const std::string_view rest = TrimBlanks(Rest(fields, RestStart));
  const std::string_view tag = TrimBlanks(rest.substr(0, TagLength));
  const std::string_view text = TrimBlanks(Rest(rest, TagLength));
  if (tag.empty() || text.empty()) {
    ++state_.Statistics.Ports[port].LinesRejected;
    log_.WriteLog(port, "Invalid event type: " + RejectedLineLog::Echo(rest));
    return;
  }
  int16_t stateCode;
  if (SameWordIgnoringCase(eventType, "NORMAL")) {
    stateCode = 0;
  } else if (SameWordIgnoringCase(eventType, "ALARM") || SameWordIgnoringCase(eventType, "DELAY")) {
    stateCode = 1;
  } else if (SameWordIgnoringCase(eventType, "ACKNOW")) {
    stateCode = 2;
  } else {
    ++state_.Statistics.Ports[port].LinesRejected;
    log_.WriteLog(port, "Unknown event type: " + RejectedLineLog::Echo(rest));
    return;
  }
  const DateTime date = DateParse(SingleLineDateLayout, GetFieldView(fields, 0, " "), 1, clock_);
  const int64_t time = TimeParse(SingleLineTimeLayout, GetFieldView(fields, 1, " "), 1, clock_);
  ++state_.Statistics.Ports[port].EventsForwarded;
  reporter_.SendEventLine(stateCode, WithTimeOfDay(date, time), tag, text);
}

// Every line-feed-ended line: a port reported failed is restored, and its silence count
// starts again.
void ReceivedDataProcessor::LineCompleted(int16_t port) {
  const PortEntry& entry = state_.Ports[port];
  PortActivity& activity = state_.Activity[port];
  ++state_.Statistics.Ports[port].LinesReceived;
  if (entry.PollFailTimeout > 0 && activity.SilenceSeconds >= entry.PollFailTimeout) {
    state_.Statistics.SilenceRestored(port);
    const std::string text = "TARVEL80 Connection '" + entry.Description + "' (" +
                             std::to_string(port) + ") has been restored";
    log_.Log().WriteLog(text);
    reporter_.SendEventLine(0, "", "", entry.Description, text);
  }
  activity.SilenceSeconds = 0;
  activity.ReminderSeconds = 0;
}

}  // namespace tarvel
