#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "diag/RejectedLineLog.h"
#include "diag/TrafficTrace.h"
#include "event/Event.h"
#include "input/LineFramer.h"
#include "output/EventReporter.h"
#include "platform/Clock.h"
#include "state/ProgramState.h"

namespace tarvel {

// Everything received on an input port comes through here: counted, traced, cut into lines at
// line feeds (CR and FF dropped), converted by the port's character settings and parsed in the
// single-line or the multi-line TARVEL80 format. Every complete line is a sign of life for the
// port's silence supervision.
class ReceivedDataProcessor {
 public:
  static constexpr std::size_t MaxLineLength = LineFramer::MaxLineLength;

  ReceivedDataProcessor(ProgramState& state, const Clock& clock, LogFile& log, TrafficTrace& trace,
                        EventReporter& reporter);

  // One reception on port 0..7, exactly as received.
  void ProcessReceivedData(int16_t port, std::string_view data);

  // Logs how many rejected lines were held back on each port whose flood is over (tick).
  void WriteHeldBackCounts();

  // Forgets the port's unfinished text, including an over-long line being skipped: a new
  // peer starts afresh.
  void ClearReceiveBuffer(int16_t port);

 private:
  // One port's reception: its framing and parsing mode, and the lines it hands on.
  struct PortReception : LineFramer::Receiver {
    void Line(std::string_view rawLine) override;
    void UnfinishedTooLong() override;
    void SkippedLineEnded() override;
    ReceivedDataProcessor* Processor = nullptr;
    int16_t Port = 0;
    LineFramer Framer;
    // 1 once the port has sent a header line of the multi-line format (and ForceOldParsing is
    // off); it stays 1.
    int16_t NewParsingDetected = 0;
  };

  void TreatLine(int16_t port, std::string_view rawLine);
  void ForwardSingleLine(int16_t port, std::string_view line);
  void LineCompleted(int16_t port);

  ProgramState& state_;
  const Clock& clock_;
  RejectedLineLog log_;  // every log line written here is about a rejected line
  TrafficTrace& trace_;
  EventReporter& reporter_;
  std::array<PortReception, PortCount> ports_;
  std::string line_;  // the line being treated, reused from line to line
  Event event_;       // the single-line message being parsed, reused
};

}  // namespace tarvel
