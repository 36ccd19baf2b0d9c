// The input port's transport events: connections of a TCP port, the device of a serial port.
#include <optional>
#include <utility>

#include "diag/PeerText.h"
#include "input/InputPort.h"

namespace tarvel {

void InputPort::Attach() {
  if (SocketControl* listener = transport_.Listener) {
    SocketHandlers handlers;
    handlers.ConnectionRequest = [this](int32_t id) { ConnectionRequest(id); };
    listener->SetHandlers(std::move(handlers));
  }
  if (SocketControl* data = transport_.Data) {
    SocketHandlers handlers;
    handlers.Connect = [this] { Connected(); };
    handlers.DataArrival = [this](std::string_view bytes) { Receive(bytes); };
    handlers.Close = [this] { Closed(); };
    handlers.Error = [this](const std::string& description) { ConnectionFailed(description); };
    data->SetHandlers(std::move(handlers));
  }
  if (SerialControl* serial = transport_.Serial) {
    SerialHandlers handlers;
    handlers.OnComm = [this](std::string_view bytes) { Receive(bytes); };
    handlers.DeviceLost = [this](const std::string& description) { DeviceLost(description); };
    serial->SetHandlers(std::move(handlers));
  }
}

std::string InputPort::ConnectionPrefix() const {
  return "Connection (" + std::to_string(number_) + ") ";
}

// A peer outside the port's AllowedHosts, and a second peer while one is connected, is refused:
// not accepted (the socket layer closes the request when this returns), and the connected peer
// and its unfinished text stay untouched. A flood of refusals logs one line per peer address
// and minute.
void InputPort::ConnectionRequest(int32_t requestId) {
  SocketControl* listener = transport_.Listener;
  SocketControl* data = transport_.Data;
  if (listener == nullptr || data == nullptr) return;
  const std::string address = listener->RemoteHostIP();
  const std::string peer = PeerText(address, listener->RemotePort());
  if (!settings_.AllowedHosts.Allows(address) || data->State() == SocketControl::Connected) {
    const std::string key = std::to_string(number_) + " " + address;
    ++totals_.RefusedConnections;
    if (auto line = surroundings_.Refusals.Admit(key, ConnectionPrefix() + "refused from " + peer))
      surroundings_.Rejected.Log().WriteLog(*line);
    return;
  }
  data->Close();
  StartNewStream();
  const SocketError accepted = data->Accept(requestId);
  if (accepted.Failed()) {
    surroundings_.ConnectionLog.WriteLog(
        number_, ConnectionPrefix() + "failed (" + accepted.Description + ") accepting " + peer);
  } else {
    surroundings_.ConnectionLog.WriteLog(number_, ConnectionPrefix() + "accepted from " + peer);
  }
  surroundings_.ConnectionChanged();
}

void InputPort::Connected() {
  SocketControl* data = transport_.Data;
  // A new connection starts a new stream, as an accepted one does on a server port: the
  // unfinished line of a broken connection joined to the first line of this one would make
  // one false event of two.
  StartNewStream();
  surroundings_.ConnectionChanged();
  surroundings_.ConnectionLog.WriteLog(number_,
                                       ConnectionPrefix() + "was established to " +
                                           HostPortText(data->RemoteHost(), data->RemotePort()));
}

void InputPort::Closed() {
  surroundings_.ConnectionChanged();
  transport_.Data->Close();
  surroundings_.ConnectionLog.WriteLog(number_, ConnectionPrefix() + "was closed");
}

void InputPort::ConnectionFailed(const std::string& description) {
  surroundings_.ConnectionChanged();
  SocketControl* data = transport_.Data;
  data->Close();
  // Where it failed: the peer a client port connects to, or a server port's TCP port.
  const std::string where =
      settings_.Kind == PortKind::TcpClient
          ? " connecting to " + HostPortText(data->RemoteHost(), data->RemotePort())
          : " on IP port " + std::to_string(settings_.ListenPort);
  surroundings_.ConnectionLog.WriteLog(number_,
                                       ConnectionPrefix() + "failed (" + description + ")" + where);
}

bool InputPort::OpenSerial(std::string* reason) {
  SerialControl* serial = transport_.Serial;
  if (serial == nullptr) return false;
  // The check refuses a serial port without a usable setting before it is opened.
  const std::optional<SerialSetting>& setting = settings_.Serial;
  if (!setting) return false;
  // Keeps the first step's reason for the caller's report.
  auto fails = [&](const SerialError& error, std::string_view what) {
    if (error.Failed() && reason != nullptr && reason->empty())
      *reason = std::string(what) + ": " + error.Description;
    return error.Failed();
  };
  bool failed = fails(serial->SetCommPort(setting->ComNumber), setting->PortName);
  failed |= fails(serial->SetSettings(setting->Line), setting->LineText);
  failed |=
      fails(serial->SetHandshaking(setting->Handshaking), std::to_string(setting->Handshaking));
  failed |= fails(serial->SetPortOpen(true), setting->PortName);
  return !failed && serial->PortOpen();
}

// The device went away for good: logged once, the port stays silent from then on.
void InputPort::DeviceLost(const std::string& description) {
  surroundings_.Rejected.Log().WriteLog(ConnectionPrefix() + "failed (" + description + ")");
}

}  // namespace tarvel
