#include "output/AlarmServerLink.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "config/ConfigReader.h"
#include "config/KeepFilePath.h"
#include "diag/PeerText.h"
#include "event/AlarmServerLine.h"

namespace tarvel {

AlarmServerLink::AlarmServerLink(const ProgramState& state, const Clock& clock,
                                 const Controls& controls, LogFile& log, TrafficTrace& trace,
                                 std::function<void()> connectionChanged,
                                 std::function<void(bool hold)> holdInput, KeepFileIo* keepIo)
    : state_(state),
      clock_(clock),
      controls_(controls),
      log_(log),
      trace_(trace),
      connectionChanged_(std::move(connectionChanged)),
      holdInput_(std::move(holdInput)),
      refusals_(clock),
      traceFaults_(clock, 1, "faults"),
      kept_(log, keepIo) {}

void AlarmServerLink::Attach() {
  if (controls_.WinsockOstrelConnect != nullptr) {
    SocketHandlers listener;
    listener.ConnectionRequest = [this](int32_t requestId) { ConnectionRequest(requestId); };
    controls_.WinsockOstrelConnect->SetHandlers(std::move(listener));
  }
  if (controls_.WinsockOstrelData != nullptr) {
    SocketHandlers data;
    data.Close = [this] { Close(); };
    data.Error = [this](const std::string& description) { Error(description); };
    data.DataArrival = [this](std::string_view bytes) { DataArrival(bytes); };
    data.SendQueueLow = [this] { SendQueueLow(); };
    data.LinesWritten = [this](uint64_t bytes) { LinesWritten(bytes); };
    controls_.WinsockOstrelData->SetHandlers(std::move(data));
  }
}

bool AlarmServerLink::Listening() const {
  return controls_.WinsockOstrelConnect != nullptr &&
         controls_.WinsockOstrelConnect->State() == SocketControl::Listening;
}

int32_t AlarmServerLink::ListenerPort() const {
  return controls_.WinsockOstrelConnect != nullptr ? controls_.WinsockOstrelConnect->LocalPort()
                                                   : 0;
}

bool AlarmServerLink::IsConnected() const {
  return controls_.WinsockOstrelData != nullptr &&
         controls_.WinsockOstrelData->State() == SocketControl::Connected;
}

std::string AlarmServerLink::Peer() const {
  if (!IsConnected()) return "";
  const SocketControl& data = *controls_.WinsockOstrelData;
  return HostPortText(data.RemoteHostIP(), data.RemotePort());
}

void AlarmServerLink::Tick(bool secondEnded) {
  SendForwarded();
  if (secondEnded) SendWatchDog();
  OpenedKept().Sync();
  SendKeptLines();
}

void AlarmServerLink::SendWatchDog() {
  const GeneralSettings& general = state_.General;
  if (general.WatchDogInterval <= 0) return;
  if (++watchDogSeconds_ < general.WatchDogInterval) return;
  if (!general.WatchDogTagName.empty()) Send(WatchdogLine(general.WatchDogTagName), false);
  watchDogSeconds_ = 0;
}

void AlarmServerLink::Send(std::string_view text, bool kept) {
  if (!IsConnected()) return;
  Trace(text);
  totals_.Sent(text);
  Hand(text, kept);
}

void AlarmServerLink::SendForwarded() {
  if (forwarded_.empty()) return;
  if (IsConnected()) {
    TraceForwarded();
    Hand(forwarded_, false);
  } else {
    // The connection went without an event in between: as if it had not taken them.
    PutBackUnsentLines(forwarded_, 0);
  }
  forwarded_.clear();
}

void AlarmServerLink::Hand(std::string_view text, bool kept) {
  controls_.WinsockOstrelData->SendData(text);
  if (!unconfirmed_.empty() && unconfirmed_.back().Kept == kept) {
    unconfirmed_.back().Bytes += text.size();
  } else {
    unconfirmed_.push_back({text.size(), kept});
  }
  unconfirmedBytes_ += text.size();
  if (!inputHeld_ && controls_.WinsockOstrelData->BytesToWrite() > SocketControl::SendHighWater)
    HoldInput(true);
}

// Line by line, as if each had been sent on its own; the window is looked at once a flush, not
// once a line, since it cannot open or close while a handler runs.
void AlarmServerLink::TraceForwarded() {
  if (!trace_.On()) return;
  for (std::string_view rest = forwarded_; !rest.empty();) {
    const std::size_t lineFeed = rest.find('\n');
    const std::size_t length = lineFeed == std::string_view::npos ? rest.size() : lineFeed + 1;
    Trace(rest.substr(0, length));
    rest.remove_prefix(length);
  }
}

// The debug window never costs a line to the alarm server.
void AlarmServerLink::Trace(std::string_view text) {
  try {
    trace_.TraceTraffic(TrafficTrace::OstrelPort, text, TrafficTrace::Sent);
  } catch (const std::exception& fault) {
    const std::string line =
        "Unexpected fault in the display of the Ostrel connection: " + std::string(fault.what()) +
        "; the gateway goes on";
    if (auto admitted = traceFaults_.Admit("trace", line)) log_.WriteLog(*admitted);
  }
}

void AlarmServerLink::SendQueueLow() {
  HoldInput(false);
  SendKeptLines();
}

void AlarmServerLink::LinesWritten(uint64_t bytes) {
  uint64_t kept = 0;
  bytes = std::min(bytes, unconfirmedBytes_);
  unconfirmedBytes_ -= bytes;
  while (bytes > 0) {
    Stretch& front = unconfirmed_.front();
    const uint64_t taken = std::min(bytes, front.Bytes);
    if (front.Kept) kept += taken;
    front.Bytes -= taken;
    bytes -= taken;
    if (front.Bytes == 0) unconfirmed_.pop_front();
  }
  if (kept > 0) kept_.Delivered(kept);
}

void AlarmServerLink::HoldInput(bool hold) {
  inputHeld_ = hold;
  holdInput_(hold);
}

// Before the data socket is closed: what it had not sent goes back to the kept lines, and the
// input ports read again.
void AlarmServerLink::EndConnection() {
  SendForwarded();
  SocketControl* data = controls_.WinsockOstrelData;
  const std::string unsent = data->TakeUnsent();
  data->Close();
  // What was taken by the operating system beyond the last report is delivered; the rest is
  // the unsent text: its kept stretches go out again from the kept lines, the others are put
  // back behind them (they followed the kept lines, or are watchdog lines).
  const uint64_t unsentBytes = std::min<uint64_t>(unsent.size(), unconfirmedBytes_);
  LinesWritten(unconfirmedBytes_ - unsentBytes);
  std::string others;
  uint64_t at = unsent.size() - unsentBytes;
  uint64_t keptLines = 0;
  for (const Stretch& stretch : unconfirmed_) {
    const std::string_view text = std::string_view(unsent).substr(at, stretch.Bytes);
    if (stretch.Kept) {
      keptLines += static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    } else {
      others.append(text);
    }
    at += stretch.Bytes;
  }
  unconfirmed_.clear();
  unconfirmedBytes_ = 0;
  PutBackUnsentLines(others, keptLines);
  if (inputHeld_) HoldInput(false);
}

// The one place where lines not sent go back to the kept lines, behind those handed out again.
void AlarmServerLink::PutBackUnsentLines(const std::string& others, uint64_t keptLines) {
  auto lines = static_cast<uint64_t>(std::count(others.begin(), others.end(), '\n'));
  if (lines + keptLines == 0) return;  // everything handed out was taken
  if (lines > 0 && !state_.General.BufferIfOstrelNotConnected) {
    totals_.LinesNotKept += lines;
    log_.WriteLog("Ostrel connection: " + std::to_string(lines) + " lines not sent, dropped");
    lines = 0;
  }
  // In front of lines kept since the connection went (they are newer).
  OpenedKept().Rewind(lines > 0 ? std::string_view(others) : std::string_view());
  if (lines + keptLines > 0) {
    log_.WriteLog("Ostrel connection: " + std::to_string(lines + keptLines) +
                  " lines not sent, kept for the next alarm server");
  }
}

void AlarmServerLink::LeaveForNextStart() {
  KeptLines& kept = OpenedKept();
  SendForwarded();
  if (IsConnected()) EndConnection();
  kept.Sync();
  if (kept.Empty()) return;
  const std::string counts =
      std::to_string(kept.Lines()) + " event lines (" + std::to_string(kept.Bytes()) + " bytes)";
  log_.WriteLog(kept.UsesFile()
                    ? "Keep file " + kept.Path() + ": " + counts + " left for the next start"
                    : counts + " kept in memory are lost with the stop");
}

void AlarmServerLink::OpenKept() {
  const std::string refusal = OpenKeptLines();
  if (!refusal.empty()) log_.WriteLog(refusal + ": kept event lines are held in memory");
}

std::string AlarmServerLink::OpenKeptLines() {
  keptOpened_ = true;
  const std::string& name = state_.General.KeepFile;
  const std::string problem =
      kept_.Open(static_cast<uint64_t>(std::max(state_.General.KeepLimit, 0)),
                 KeepFilePath(name, state_.ProgramPath));
  return problem.empty() ? "" : ConfigError{"General", "KeepFile", name, problem}.Text();
}

void AlarmServerLink::Forward(const EventView& event) {
  KeptLines& kept = OpenedKept();
  const bool connected = IsConnected();
  if (connected && kept.Empty()) {
    // Written straight into the block that goes out at the flush. Counted line by line, as the
    // shown counter expects; a received line holds no line feed of its own, so an event's line
    // is one line.
    const std::size_t start = forwarded_.size();
    AppendEventLine(forwarded_, event);
    totals_.SentLine(forwarded_.size() - start);
    return;
  }
  line_.clear();
  AppendEventLine(line_, event);
  const std::string_view line = line_;
  if (connected) {
    // Kept lines go out first: sent ahead of them, a port's NORMAL would reach the alarm
    // server before the ALARM it ends, and the point would be left in alarm.
    kept.Append(line);
    SendKeptLines();
    return;
  }
  SendForwarded();  // lines forwarded before the connection went come first
  if (state_.General.BufferIfOstrelNotConnected) {
    if (!kept.Keep(line)) ++totals_.LinesDroppedAtLimit;
  } else {
    ++totals_.LinesNotKept;
  }
}

void AlarmServerLink::Flush() {
  SendForwarded();
  kept_.WritePending();
}

void AlarmServerLink::SendKeptLines() {
  SendForwarded();
  while (IsConnected() && !inputHeld_ && !kept_.Empty()) {
    // Marked sent once the operating system has taken it (LinesWritten); a connection that
    // ends first hands it out again.
    const std::string_view text = kept_.Take(KeptPieceBytes);
    if (text.empty()) return;
    Send(text, true);
  }
}

void AlarmServerLink::ConnectionRequest(int32_t requestId) {
  SocketControl* listener = controls_.WinsockOstrelConnect;
  SocketControl* data = controls_.WinsockOstrelData;
  if (listener == nullptr || data == nullptr) return;
  const std::string address = listener->RemoteHostIP();
  if (!state_.General.OstrelAllowedHosts.Allows(address)) {
    // Not accepted, so the socket layer closes the request; a connected alarm server stays.
    ++totals_.RefusedConnections;
    const std::string text =
        "Refused Ostrel connection from " + PeerText(address, listener->RemotePort());
    if (auto line = refusals_.Admit(address, text)) log_.WriteLog(*line);
    return;
  }
  // A connected alarm server is dropped for the new one, without a log line of its own.
  EndConnection();
  const SocketError accepted = data->Accept(requestId);
  if (accepted.Failed()) {
    log_.WriteLog("Ostrel connection failed (" + accepted.Description + ")");
  } else {
    ++totals_.Connections;
    totals_.ConnectedAt = clock_.Now();
    log_.WriteLog("Accepted Ostrel connection from " +
                  PeerText(listener->RemoteHostIP(), listener->RemotePort()));
  }
  connectionChanged_();
}

void AlarmServerLink::Close() {
  if (controls_.WinsockOstrelData == nullptr) return;
  EndConnection();
  connectionChanged_();
  log_.WriteLog("Ostrel connection was closed");
}

void AlarmServerLink::Error(const std::string& description) {
  if (controls_.WinsockOstrelData == nullptr) return;
  EndConnection();
  connectionChanged_();
  log_.WriteLog("Ostrel connection failed (" + description + ")");
}

void AlarmServerLink::DataArrival(std::string_view bytes) {
  // The alarm server's replies mean nothing to the gateway: counted and dropped.
  totals_.Received(bytes.size());
}

}  // namespace tarvel
