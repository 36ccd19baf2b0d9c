#include "input/ReceivedDataProcessor.h"

#include <cstring>
#include <exception>

#include "event/AlarmServerLine.h"
#include "event/MultiLineAssembler.h"
#include "event/SingleLineParser.h"
#include "text/CharsetConversion.h"
#include "text/TextFields.h"

namespace tarvel {

ReceivedDataProcessor::ReceivedDataProcessor(ProgramState& state, const Clock& clock, LogFile& log,
                                             TrafficTrace& trace, EventReporter& reporter)
    : state_(state), clock_(clock), log_(clock, log), trace_(trace), reporter_(reporter) {
  for (int16_t port = 0; port < PortCount; ++port) {
    ports_[port].Processor = this;
    ports_[port].Port = port;
  }
}

void ReceivedDataProcessor::ProcessReceivedData(int16_t port, std::string_view data) {
  if (port < 0 || port >= PortCount) return;
  const uint64_t linesBefore = state_.Statistics.Ports[port].LinesReceived;
  state_.Statistics.PortReceived(port, data.size());
  try {
    trace_.TraceTraffic(port, data, TrafficTrace::Received);
  } catch (const std::exception& fault) {
    // The debug window never keeps a line from the alarm server.
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
    ForwardSingleLine(port, line_);
  }
  LineCompleted(port);
}

void ReceivedDataProcessor::ForwardSingleLine(int16_t port, std::string_view line) {
  const SingleLineParse parse = ParseSingleLine(line, clock_, event_);
  switch (parse.Result) {
    case SingleLineParse::Outcome::Parsed:
      ++state_.Statistics.Ports[port].EventsForwarded;
      reporter_.SendEventLine(event_);
      return;
    case SingleLineParse::Outcome::TagOrTextMissing:
      ++state_.Statistics.Ports[port].LinesRejected;
      log_.WriteLog(port, "Invalid event type: " + RejectedLineLog::Echo(parse.Rest));
      return;
    case SingleLineParse::Outcome::UnknownStateWord:
      ++state_.Statistics.Ports[port].LinesRejected;
      log_.WriteLog(port, "Unknown event type: " + RejectedLineLog::Echo(parse.Rest));
      return;
  }
}

// Every line-feed-ended line: a port reported failed is restored, and its silence count
// starts again.
void ReceivedDataProcessor::LineCompleted(int16_t port) {
  const PortEntry& entry = state_.Ports[port];
  PortActivity& activity = state_.Activity[port];
  ++state_.Statistics.Ports[port].LinesReceived;
  if (entry.PollFailTimeout > 0 && activity.SilenceSeconds >= entry.PollFailTimeout) {
    state_.Statistics.SilenceRestored(port);
    const Event restored = PortRestoredEvent(entry.Description, port);
    log_.Log().WriteLog(restored.Text);
    reporter_.SendEventLine(restored);
  }
  activity.SilenceSeconds = 0;
  activity.ReminderSeconds = 0;
}

}  // namespace tarvel
