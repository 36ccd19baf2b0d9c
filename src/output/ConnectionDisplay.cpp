#include "output/ConnectionDisplay.h"

#include <string>

namespace tarvel {
namespace {

bool IsConnected(const SocketControl* socket) {
  return socket != nullptr && socket->State() == SocketControl::Connected;
}

std::string PeerText(const std::string& host, int32_t port) {
  return host + ":" + std::to_string(port);
}

}  // namespace

ConnectionDisplay::ConnectionDisplay(const ProgramState& state, const Controls& controls,
                                     ConnectionListView& connectionList, StatusBarView& statusBar)
    : state_(state), controls_(controls), connectionList_(connectionList), statusBar_(statusBar) {}

void ConnectionDisplay::ShowTCPConnectionState(int16_t port) {
  if (port < 0 || port >= PortCount) return;
  const PortEntry& entry = state_.Ports[port];
  const SocketControl* data = controls_.WinsockData[port];
  std::string text;
  switch (entry.Kind) {
    case PortKind::TcpServer: {
      const SocketControl* listener = controls_.WinsockConnect[port];
      if (IsConnected(data)) {
        text = "Connected to " + PeerText(data->RemoteHostIP(), data->RemotePort());
      } else {
        text = "Waiting for connection at port " +
               std::to_string(listener != nullptr ? listener->LocalPort() : 0);
      }
      break;
    }
    case PortKind::TcpClient:
      if (data == nullptr) return;
      text = (IsConnected(data) ? "Connected to " : "Disconnected from ") +
             PeerText(data->RemoteHost(), data->RemotePort());
      break;
    case PortKind::Serial: {
      const SerialControl* serial = controls_.MSComm[port];
      text = "Connected to COM" + std::to_string(serial != nullptr ? serial->CommPort() : 0) +
             " (" + entry.ComSetting + ")";
      break;
    }
    case PortKind::NotUsed:
      return;
  }
  connectionList_.SetSubItem(entry.ConnectionListItem, ConnectionListView::StatusColumn, text);
}

void ConnectionDisplay::ShowOstrelConnectionState() {
  const SocketControl* listener = controls_.WinsockOstrelConnect;
  const SocketControl* data = controls_.WinsockOstrelData;
  const std::string port = std::to_string(listener != nullptr ? listener->LocalPort() : 0);
  std::string text;
  if (listener == nullptr || listener->State() != SocketControl::Listening) {
    text = "Warning! Ostrel connections at port " + port + " is disabled!";
  } else if (IsConnected(data)) {
    text = "Connected to Ostrel " + PeerText(data->RemoteHostIP(), data->RemotePort());
  } else {
    text = "Waiting for Ostrel connection at port " + port;
  }
  statusBar_.SetPanelText(StatusBarView::ConnectionPanel, text);
}

}  // namespace tarvel
