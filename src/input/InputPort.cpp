#include "input/InputPort.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "event/AlarmServerLine.h"
#include "event/SingleLineParser.h"
#include "text/CharsetConversion.h"
#include "text/TextFields.h"

namespace tarvel {

InputPort::InputPort(int16_t number, PortTransport transport,
                     const InputPortSurroundings& surroundings)
    : number_(number), transport_(transport), surroundings_(surroundings) {}

void InputPort::Receive(std::string_view data) {
  const uint64_t linesBefore = totals_.LinesReceived;
  totals_.Received(data.size());
  try {
    surroundings_.Trace.TraceTraffic(number_, data, TrafficTrace::Received);
  } catch (const std::exception& fault) {
    // The debug window never keeps a line from the alarm server.
    surroundings_.Rejected.WriteLog(number_, "Unexpected fault in the display of port (" +
                                                 std::to_string(number_) + "): " + fault.what() +
                                                 "; the gateway goes on");
  }
  receptionHoldsFormFeed_ = std::memchr(data.data(), '\f', data.size()) != nullptr;
  framer_.Push(data, *this);
  surroundings_.Sink.Flush();
  // One clock reading per reception, not per line: a reading costs as much as framing a line.
  if (totals_.LinesReceived != linesBefore) totals_.LastLineAt = surroundings_.TheClock.Now();
}

void InputPort::StartNewStream() {
  framer_.Clear();
}

void InputPort::HoldReceiving(bool hold) {
  if (transport_.Data != nullptr) transport_.Data->SetReceivePaused(hold);
}

void InputPort::Tick(int32_t elapsedMs) {
  ForwardCollected(collecting_.Age(elapsedMs, surroundings_.TheClock));
  surroundings_.Sink.Flush();
}

void InputPort::PerSecond() {
  Reconnect();
  SuperviseSilence();
  surroundings_.Sink.Flush();
}

bool InputPort::Failed() const {
  return settings_.PollFailTimeout > 0 && silenceSeconds_ >= settings_.PollFailTimeout;
}

int32_t InputPort::StepsUntilReconnect() const {
  // The countdown starts at 0, so the first attempt comes in the first step.
  return std::max(reconnectCountdown_, 1);
}

void InputPort::Line(std::string_view rawLine) {
  try {
    TreatLine(rawLine);
  } catch (const std::exception& fault) {
    // One faulty line is dropped; the lines after it are treated as usual.
    ++totals_.LinesRejected;
    surroundings_.Rejected.WriteLog(
        number_, "Line dropped on port (" + std::to_string(number_) + "), " + fault.what());
  }
}

void InputPort::UnfinishedTooLong() {
  ++totals_.LinesRejected;
  surroundings_.Rejected.WriteLog(number_, "Unfinished line on port (" + std::to_string(number_) +
                                               ") exceeds " + std::to_string(MaxLineLength) +
                                               " characters, dropped");
}

void InputPort::SkippedLineEnded() {
  LineCompleted();
}

void InputPort::TreatLine(std::string_view rawLine) {
  // CR and FF are dropped wherever they stand; most lines hold a CR before the line feed only.
  if (!rawLine.empty() && rawLine.back() == '\r') rawLine.remove_suffix(1);
  if (std::memchr(rawLine.data(), '\r', rawLine.size()) != nullptr ||
      (receptionHoldsFormFeed_ && std::memchr(rawLine.data(), '\f', rawLine.size()) != nullptr)) {
    line_.clear();
    AppendWithoutCrAndFf(line_, rawLine);
    rawLine = line_;
  }
  std::string_view line = TrimBlanks(rawLine);
  if (line.size() > MaxLineLength) {
    ++totals_.LinesRejected;
    surroundings_.Rejected.WriteLog(number_, "Line too long on port (" + std::to_string(number_) +
                                                 "), " + std::to_string(line.size()) +
                                                 " characters dropped");
    LineCompleted();
    return;
  }
  // Only a conversion needs a copy of its own; without one the line is read where it lies.
  if (settings_.Swedish7BitASCII2ISOLatin1 || settings_.DOSASCII2ISOLatin1) {
    if (line.data() != line_.data() || line.size() != line_.size()) line_.assign(line);
    if (settings_.Swedish7BitASCII2ISOLatin1) Swedish7BitToLatin1(line_);
    if (settings_.DOSASCII2ISOLatin1) DOSToLatin1(line_);
    line = line_;
  }
  // The header test reads the words as the cleaned line holds them; the cleaned line itself
  // is only made for the multi-line path.
  const bool header = IsHeaderLine(line);
  if (header) newParsingDetected_ = 1;
  if (settings_.ForceOldParsing) newParsingDetected_ = 0;
  if (newParsingDetected_ == 1) {
    CleanTextInto(cleaned_, line);
    ForwardCollected(collecting_.Add(cleaned_, header, surroundings_.TheClock));
  } else {
    ForwardSingleLine(line);
  }
  LineCompleted();
}

void InputPort::ForwardSingleLine(std::string_view line) {
  const SingleLineParse parse = ParseSingleLine(line, surroundings_.TheClock);
  switch (parse.Result) {
    case SingleLineParse::Outcome::Parsed:
      ++totals_.EventsForwarded;
      SendEvent(parse.Message);
      return;
    case SingleLineParse::Outcome::TagOrTextMissing:
      ++totals_.LinesRejected;
      surroundings_.Rejected.WriteLog(number_,
                                      "Invalid event type: " + RejectedLineLog::Echo(parse.Rest));
      return;
    case SingleLineParse::Outcome::UnknownStateWord:
      ++totals_.LinesRejected;
      surroundings_.Rejected.WriteLog(number_,
                                      "Unknown event type: " + RejectedLineLog::Echo(parse.Rest));
      return;
  }
}

void InputPort::ForwardCollected(MultiLineAssembler::Completed completed) {
  switch (completed) {
    case MultiLineAssembler::Completed::Nothing:
      return;
    case MultiLineAssembler::Completed::Dropped:
      ++totals_.LinesRejected;
      return;
    case MultiLineAssembler::Completed::Event:
      ++totals_.EventsForwarded;
      SendEvent(collecting_.Collected());
      return;
  }
}

// Every line-feed-ended line: a port reported failed is restored, and its silence count
// starts again.
void InputPort::LineCompleted() {
  ++totals_.LinesReceived;
  if (Failed()) {
    totals_.RestoredAt = surroundings_.TheClock.Now();
    SendPortEvent(PortRestoredEvent(settings_.Description, number_));
  }
  silenceSeconds_ = 0;
  reminderSeconds_ = 0;
}

// An attempt still pending when the countdown runs out is closed and started again.
void InputPort::Reconnect() {
  if (settings_.Kind != PortKind::TcpClient) return;
  SocketControl* data = transport_.Data;
  if (data == nullptr) return;
  if (data->State() == SocketControl::Connected) {
    reconnectCountdown_ = surroundings_.General.ReconnectInterval;
    return;
  }
  if (StepsUntilReconnect() > 1) {
    --reconnectCountdown_;
    return;
  }
  ++totals_.Reconnects;
  data->Close();
  data->Connect();
  reconnectCountdown_ = surroundings_.General.ReconnectInterval;
}

void InputPort::SuperviseSilence() {
  if (settings_.Kind == PortKind::NotUsed || settings_.PollFailTimeout <= 0) return;
  if (Failed()) {
    if (settings_.PollFailRemindTime <= 0) return;
    if (++reminderSeconds_ < settings_.PollFailRemindTime) return;
    SendPortEvent(PortStillBadEvent(settings_.Description, number_, settings_.PollFailRemindTime));
    reminderSeconds_ = 0;
  } else if (++silenceSeconds_ >= settings_.PollFailTimeout) {
    ++totals_.SilenceFailures;
    totals_.FailedAt = surroundings_.TheClock.Now();
    SendPortEvent(PortFailedEvent(settings_.Description, number_, settings_.PollFailTimeout));
  }
}

void InputPort::SendPortEvent(const Event& event) {
  surroundings_.Rejected.Log().WriteLog(event.Text);
  SendEvent(event);
}

void InputPort::SendEvent(const EventView& event) {
  surroundings_.Sink.Forward(event);
}

}  // namespace tarvel
