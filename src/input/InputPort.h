#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/GeneralSettings.h"
#include "config/PortEntry.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/RejectedLineLog.h"
#include "diag/TrafficTrace.h"
#include "event/Event.h"
#include "event/MultiLineAssembler.h"
#include "input/LineFramer.h"
#include "output/EventSink.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "platform/SocketControl.h"
#include "state/Totals.h"

namespace tarvel {

// The transport a port holds: a TCP server port listens on Listener and receives on Data, a
// TCP client port connects Data, a serial port receives on Serial.
struct PortTransport {
  SocketControl* Listener = nullptr;
  SocketControl* Data = nullptr;
  SerialControl* Serial = nullptr;
};

// What every input port shares with the rest of the gateway, owned by the caller.
struct InputPortSurroundings {
  const Clock& TheClock;
  const GeneralSettings& General;  // ReconnectInterval
  RejectedLineLog& Rejected;       // every log line about a rejected line, and the log itself
  TrafficTrace& Trace;
  EventSink& Sink;
  // Accepted, established, closed and failed connections, limited per port.
  RejectedLineLog& ConnectionLog;
  // Refused connections: one log line per port and peer address a minute.
  RefusalLogLimiter& Refusals;
  // Called whenever the port's connection may have changed (not on a refusal), so that the
  // windows show it at once.
  std::function<void()> ConnectionChanged;
};

// One configured input port ([TARVEL80_Port_n]) and everything about it: its settings, its
// transport and the transport's events, the framing of what it receives, its parse mode
// (single-line or multi-line) and the multi-line event being collected, its silence and
// reconnect supervision, its totals. Received bytes are counted, traced, cut into lines at line
// feeds (CR and FF dropped), converted by the port's character settings and parsed; every
// finished event line goes to the sink. Every complete line is a sign of life for the silence
// supervision.
//
// A TCP server port listens on its Listener (WinsockConnect(n)) and takes at most one peer on
// its Data socket (WinsockData(n)), only from a host in its AllowedHosts; a TCP client port
// connects its Data socket; a serial port is opened once at start-up from its ComSetting.
// Nothing is ever sent to the equipment.
class InputPort : private LineFramer::Receiver {
 public:
  static constexpr std::size_t MaxLineLength = LineFramer::MaxLineLength;

  InputPort(int16_t number, PortTransport transport, const InputPortSurroundings& surroundings);

  int16_t Number() const { return number_; }
  const PortEntry& Settings() const { return settings_; }
  // Start-up fills the settings in; they are read only once it has ended.
  PortEntry& SettingsToFill() { return settings_; }
  const PortTransport& Transport() const { return transport_; }
  const PortTotals& Totals() const { return totals_; }

  // Sets the handlers of the port's transport: received bytes come straight to Receive.
  void Attach();
  // Opens a serial port from its setting: CommPort, Settings, Handshaking, PortOpen. Every step
  // is tried; false when any of them failed, the port is not open afterwards or it has no
  // usable setting, with the first failed step's reason in reason when given. Logs nothing.
  bool OpenSerial(std::string* reason);

  // One reception, exactly as received (ProcessReceivedData).
  void Receive(std::string_view data);
  // Forgets the unfinished text, including an over-long line being skipped: a new peer starts
  // afresh.
  void StartNewStream();
  // The alarm server's push-back: the data socket stops or starts reading, so TCP flow control
  // holds the equipment back.
  void HoldReceiving(bool hold);

  // Every supervision tick: ages the multi-line event being collected by the tick's interval.
  void Tick(int32_t elapsedMs);
  // Once a second: a TCP client port that is not connected counts down to its next attempt;
  // a used port with PollFailTimeout counts its silence and sends the failure and reminders.
  void PerSecond();

  // In the failed condition of the silence supervision.
  bool Failed() const;
  // A TCP client port that is not connected: per-second steps until its next connection
  // attempt, the step that makes it counted (1 is the next step).
  int32_t StepsUntilReconnect() const;

 private:
  // The transport's events (InputPortTransport.cpp).
  void ConnectionRequest(int32_t requestId);
  void Connected();
  void Closed();
  void ConnectionFailed(const std::string& description);
  void DeviceLost(const std::string& description);
  std::string ConnectionPrefix() const;

  void Line(std::string_view rawLine) override;
  void UnfinishedTooLong() override;
  void SkippedLineEnded() override;

  void TreatLine(std::string_view rawLine);
  void ForwardSingleLine(std::string_view line);
  void ForwardCollected(MultiLineAssembler::Completed completed);
  void LineCompleted();
  void Reconnect();
  void SuperviseSilence();
  // A failure, reminder or restore line: logged as sent.
  void SendPortEvent(const Event& event);
  void SendEvent(const EventView& event);

  const int16_t number_;
  PortEntry settings_;
  const PortTransport transport_;
  const InputPortSurroundings surroundings_;

  PortTotals totals_;
  LineFramer framer_;
  // Whether the reception being framed holds a form feed anywhere. The framer keeps text from
  // earlier receptions without CR and FF, so a line holds one only if its reception does; most
  // receptions hold none, and their lines need not be searched for one.
  bool receptionHoldsFormFeed_ = true;
  // 1 once the port has sent a header line of the multi-line format (and ForceOldParsing is
  // off); it stays 1.
  int16_t newParsingDetected_ = 0;
  MultiLineAssembler collecting_;

  int32_t silenceSeconds_ = 0;
  int32_t reminderSeconds_ = 0;
  // Seconds until a TCP client port that is not connected tries again; 0 at start, so the
  // first attempt comes in the first second.
  int32_t reconnectCountdown_ = 0;

  // The line being treated where it needs a copy of its own (CR or FF inside, a conversion),
  // reused from line to line.
  std::string line_;
  std::string cleaned_;  // the line cleaned for the multi-line path, reused
};

}  // namespace tarvel
