#include "output/OstrelConnection.h"

#include <algorithm>
#include <exception>

#include "diag/PeerText.h"
#include "state/ByteCounter.h"
#include "text/DecimalText.h"

namespace tarvel {

OstrelConnection::OstrelConnection(ProgramState& state, const Clock& clock,
                                   const Controls& controls, LogFile& log, TrafficTrace& trace,
                                   StatusBarView& statusBar, ConnectionDisplay& display,
                                   KeepFileIo* keepIo)
    : state_(state),
      controls_(controls),
      log_(log),
      trace_(trace),
      statusBar_(statusBar),
      display_(display),
      refusals_(clock),
      kept_(log, keepIo) {}

void OstrelConnection::Attach() {
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
    controls_.WinsockOstrelData->SetHandlers(std::move(data));
  }
}

bool OstrelConnection::IsConnected() const {
  return controls_.WinsockOstrelData != nullptr &&
         controls_.WinsockOstrelData->State() == SocketControl::Connected;
}

void OstrelConnection::SendToOstrel(std::string_view text) {
  if (!IsConnected()) return;
  try {
    trace_.TraceTraffic(TrafficTrace::OstrelPort, text, TrafficTrace::Sent);
  } catch (const std::exception&) {
    // The debug trace never keeps a line from the alarm server.
  }
  try {
    controls_.WinsockOstrelData->SendData(text);
    if (!inputHeld_ && controls_.WinsockOstrelData->BytesToWrite() > SocketControl::SendHighWater)
      HoldInput(true);
  } catch (const std::exception&) {
    // Not kept or retried: the loss shows as the connection's later Close or Error.
  }
  AddToByteCounter(state_.OstrelTxBytes, static_cast<int64_t>(text.size()));
  state_.Statistics.OstrelSent(text);
  countersChanged_ = true;
}

void OstrelConnection::SendQueueLow() {
  HoldInput(false);
  SendKeptLines();
}

void OstrelConnection::HoldInput(bool hold) {
  inputHeld_ = hold;
  for (SocketControl* data : controls_.WinsockData) {
    if (data != nullptr) data->SetReceivePaused(hold);
  }
}

// Before the data socket is closed: what it had not sent goes back to the kept lines, and the
// input ports read again.
void OstrelConnection::EndConnection() {
  SocketControl* data = controls_.WinsockOstrelData;
  PutBackUnsentLines(data->TakeUnsent());
  data->Close();
  if (inputHeld_) HoldInput(false);
}

// The one place where lines go back to the front of the kept lines, ahead of those kept since.
void OstrelConnection::PutBackUnsentLines(std::string unsent) {
  if (unsent.empty()) return;
  const auto lines = std::count(unsent.begin(), unsent.end(), '\n');
  if (!state_.General.BufferIfOstrelNotConnected) {
    state_.Statistics.Ostrel.LinesNotKept += static_cast<uint64_t>(lines);
    log_.WriteLog("Ostrel connection: " + std::to_string(lines) + " lines not sent, dropped");
    return;
  }
  Kept().Restore(unsent);
  log_.WriteLog("Ostrel connection: " + std::to_string(lines) +
                " lines not sent, kept for the next alarm server");
}

KeptLines& OstrelConnection::Kept() {
  if (!keptOpened_) {
    keptOpened_ = true;
    const std::string& name = state_.General.KeepFile;
    const std::string path = name.empty() || name.front() == '/' ? name : state_.ProgramPath + name;
    kept_.Open(static_cast<uint64_t>(std::max(state_.General.KeepLimit, 0)), path);
  }
  return kept_;
}

void OstrelConnection::SendOrKeep(const std::string& line) {
  KeptLines& kept = Kept();
  if (IsConnected()) {
    if (kept.Empty()) {
      SendToOstrel(line);
    } else {
      // Kept lines go out first: sent ahead of them, a port's NORMAL would reach the alarm
      // server before the ALARM it ends, and the point would be left in alarm.
      kept.Append(line);
      SendKeptLines();
    }
  } else if (state_.General.BufferIfOstrelNotConnected) {
    if (!kept.Keep(line)) state_.Statistics.LineNotSent(true);
  } else {
    state_.Statistics.LineNotSent(false);
  }
}

void OstrelConnection::FlushKeptLines() {
  KeptLines& kept = Kept();
  kept.Sync();
  SendKeptLines();
}

void OstrelConnection::SendKeptLines() {
  while (IsConnected() && !inputHeld_ && !kept_.Empty()) {
    // Counted as sent once handed over, even if the send fails: a kept line is never sent
    // twice.
    const std::string text = kept_.Take(KeptPieceBytes);
    if (text.empty()) return;
    SendToOstrel(text);
  }
}

void OstrelConnection::ConnectionRequest(int32_t requestId) {
  SocketControl* listener = controls_.WinsockOstrelConnect;
  SocketControl* data = controls_.WinsockOstrelData;
  if (listener == nullptr || data == nullptr) return;
  try {
    const std::string address = listener->RemoteHostIP();
    if (!state_.General.OstrelAllowedHosts.Allows(address)) {
      // Not accepted, so the socket layer closes the request; a connected alarm server stays.
      ++state_.Statistics.Ostrel.RefusedConnections;
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
      state_.Statistics.OstrelAccepted();
      log_.WriteLog("Accepted Ostrel connection from " +
                    PeerText(listener->RemoteHostIP(), listener->RemotePort()));
    }
    display_.ShowOstrelConnectionState();
  } catch (const std::exception&) {
    // The gateway goes on listening; the next request is handled normally.
  }
}

void OstrelConnection::Close() {
  if (controls_.WinsockOstrelData == nullptr) return;
  try {
    EndConnection();
    display_.ShowOstrelConnectionState();
    log_.WriteLog("Ostrel connection was closed");
  } catch (const std::exception&) {
  }
}

void OstrelConnection::Error(const std::string& description) {
  if (controls_.WinsockOstrelData == nullptr) return;
  try {
    EndConnection();
    display_.ShowOstrelConnectionState();
    log_.WriteLog("Ostrel connection failed (" + description + ")");
  } catch (const std::exception&) {
  }
}

void OstrelConnection::DataArrival(std::string_view bytes) {
  // The alarm server's replies mean nothing to the gateway: counted and dropped.
  AddToByteCounter(state_.OstrelRxBytes, static_cast<int64_t>(bytes.size()));
  state_.Statistics.Ostrel.BytesReceived += bytes.size();
  countersChanged_ = true;
}

void OstrelConnection::ShowByteCounters() {
  if (!countersChanged_) return;
  countersChanged_ = false;
  counterText_.assign("Ostrel TxBytes:");
  AppendDecimal(counterText_, state_.OstrelTxBytes);
  counterText_.append(", RxBytes:");
  AppendDecimal(counterText_, state_.OstrelRxBytes);
  statusBar_.SetPanelText(StatusBarView::CounterPanel, counterText_);
}

}  // namespace tarvel
