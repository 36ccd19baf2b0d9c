#include "input/TcpInputPorts.h"

#include <utility>

#include "diag/PeerText.h"

namespace tarvel {

TcpInputPorts::TcpInputPorts(const Clock& clock, std::span<InputPort> ports, LogFile& log,
                             std::function<void()> connectionChanged)
    : ports_(ports),
      log_(log),
      connectionChanged_(std::move(connectionChanged)),
      refusals_(clock),
      connectionLog_(clock, log, RejectedLineLog::ConnectionEvents) {}

void TcpInputPorts::Attach() {
  for (InputPort& input : ports_) {
    const int16_t port = input.Number();
    if (SocketControl* listener = input.Transport().Listener) {
      SocketHandlers handlers;
      handlers.ConnectionRequest = [this, port](int32_t id) { ConnectionRequest(port, id); };
      listener->SetHandlers(std::move(handlers));
    }
    if (SocketControl* data = input.Transport().Data) {
      SocketHandlers handlers;
      handlers.Connect = [this, port] { Connect(port); };
      handlers.DataArrival = [&input](std::string_view bytes) { input.Receive(bytes); };
      handlers.Close = [this, port] { Close(port); };
      handlers.Error = [this, port](const std::string& description) { Error(port, description); };
      data->SetHandlers(std::move(handlers));
    }
  }
}

std::string TcpInputPorts::Prefix(int16_t port) const {
  return "Connection (" + std::to_string(port) + ") ";
}

// A peer outside the port's AllowedHosts, and a second peer while one is connected, is refused:
// not accepted (the socket layer closes the request when this returns), and the connected peer
// and its unfinished text stay untouched. A flood of refusals logs one line per peer address
// and minute.
void TcpInputPorts::ConnectionRequest(int16_t port, int32_t requestId) {
  InputPort& input = ports_[port];
  SocketControl* listener = input.Transport().Listener;
  SocketControl* data = input.Transport().Data;
  if (listener == nullptr || data == nullptr) return;
  const std::string address = listener->RemoteHostIP();
  const std::string peer = PeerText(address, listener->RemotePort());
  if (!input.Settings().AllowedHosts.Allows(address) || data->State() == SocketControl::Connected) {
    const std::string key = std::to_string(port) + " " + address;
    input.CountRefusedConnection();
    if (auto line = refusals_.Admit(key, Prefix(port) + "refused from " + peer))
      log_.WriteLog(*line);
    return;
  }
  data->Close();
  input.StartNewStream();
  const SocketError accepted = data->Accept(requestId);
  if (accepted.Failed()) {
    connectionLog_.WriteLog(
        port, Prefix(port) + "failed (" + accepted.Description + ") accepting " + peer);
  } else {
    connectionLog_.WriteLog(port, Prefix(port) + "accepted from " + peer);
  }
  connectionChanged_();
}

void TcpInputPorts::Connect(int16_t port) {
  SocketControl* data = ports_[port].Transport().Data;
  // A new connection starts a new stream, as an accepted one does on a server port: the
  // unfinished line of a broken connection joined to the first line of this one would make
  // one false event of two.
  ports_[port].StartNewStream();
  connectionChanged_();
  connectionLog_.WriteLog(port, Prefix(port) + "was established to " + data->RemoteHost() + ":" +
                                    std::to_string(data->RemotePort()));
}

void TcpInputPorts::Close(int16_t port) {
  connectionChanged_();
  ports_[port].Transport().Data->Close();
  connectionLog_.WriteLog(port, Prefix(port) + "was closed");
}

void TcpInputPorts::Error(int16_t port, const std::string& description) {
  connectionChanged_();
  SocketControl* data = ports_[port].Transport().Data;
  data->Close();
  // Where it failed: the peer a client port connects to, or a server port's TCP port.
  const PortEntry& entry = ports_[port].Settings();
  const std::string where =
      entry.Kind == PortKind::TcpClient
          ? " connecting to " + data->RemoteHost() + ":" + std::to_string(data->RemotePort())
          : " on IP port " + std::to_string(entry.ListenPort);
  connectionLog_.WriteLog(port, Prefix(port) + "failed (" + description + ")" + where);
}

}  // namespace tarvel
