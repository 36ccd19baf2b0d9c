#include <string>

#include "app/ConnectionDisplay.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeSocketControl.h"
#include "gtest/gtest.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

TEST(ConnectionDisplayTest, StatusColumnByKindAndState) {
  struct Row {
    const char* name;
    PortKind kind;
    int16_t dataState;
    std::string text;
  };
  const Row rows[] = {
      {"server waiting", PortKind::TcpServer, SocketControl::Closed,
       "Waiting for connection at port 4001"},
      {"server closing", PortKind::TcpServer, SocketControl::Closing,
       "Waiting for connection at port 4001"},
      {"server connected", PortKind::TcpServer, SocketControl::Connected,
       "Connected to 10.1.1.1:3333"},
      {"client connecting", PortKind::TcpClient, SocketControl::Connecting,
       "Disconnected from panel.local:4002"},
      {"client connected", PortKind::TcpClient, SocketControl::Connected,
       "Connected to panel.local:4002"},
      {"serial", PortKind::Serial, SocketControl::Closed, "Connected to COM3 (COM3,9600,N,8,1,0)"},
      {"not used", PortKind::NotUsed, SocketControl::Connected, "untouched"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ProgramState state;
    FakeSocketControl listener;
    FakeSocketControl data;
    FakeSerialControl serial;
    listener.SetLocalPort(4001);
    data.SetState(row.dataState);
    data.SetRemoteHost("panel.local");
    data.SetRemotePort(row.kind == PortKind::TcpServer ? 3333 : 4002);
    data.SetRemoteHostIP("10.1.1.1");
    serial.SetCommPort(3);
    Controls controls;
    controls.WinsockConnect[5] = &listener;
    controls.WinsockData[5] = &data;
    controls.MSComm[5] = &serial;
    InMemoryConnectionList list;
    InMemoryStatusBar statusBar;
    PortEntry& port = state.Ports[5];
    port.Kind = row.kind;
    port.ComSetting = "COM3,9600,N,8,1,0";
    port.ConnectionListItem = list.AddRow("Panel");
    list.SetSubItem(0, ConnectionListView::StatusColumn, "untouched");
    ConnectionDisplay(state, controls, list, statusBar).ShowTCPConnectionState(5);
    EXPECT_EQ(list.Rows()[0].SubItems[ConnectionListView::StatusColumn], row.text);
  }
}

TEST(ConnectionDisplayTest, AlarmServerPanel) {
  struct Row {
    const char* name;
    int16_t listenerState;
    int16_t dataState;
    std::string text;
  };
  const Row rows[] = {
      {"waiting", SocketControl::Listening, SocketControl::Closed,
       "Waiting for Ostrel connection at port 14000"},
      {"connected", SocketControl::Listening, SocketControl::Connected,
       "Connected to Ostrel 10.0.0.9:5000"},
      {"listen failed wins", SocketControl::Closed, SocketControl::Connected,
       "Warning! Ostrel connections at port 14000 is disabled!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ProgramState state;
    FakeSocketControl listener;
    FakeSocketControl data;
    listener.SetLocalPort(14000);
    listener.SetState(row.listenerState);
    data.SetState(row.dataState);
    data.SetRemoteHostIP("10.0.0.9");
    data.SetRemotePort(5000);
    Controls controls;
    controls.WinsockOstrelConnect = &listener;
    controls.WinsockOstrelData = &data;
    InMemoryConnectionList list;
    InMemoryStatusBar statusBar;
    ConnectionDisplay(state, controls, list, statusBar).ShowOstrelConnectionState();
    EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel), row.text);
  }
}

}  // namespace
}  // namespace tarvel
