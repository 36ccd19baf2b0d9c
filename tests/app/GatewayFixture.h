#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/GatewayAssembly.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeSocketControl.h"
#include "fakes/FakeUpdateTimer.h"
#include "state/PortControls.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {

// A clock or view whose next use throws, as a failing one may: the fault fence's cases.
template <typename Base>
class FailingNext : public Base {
 public:
  void FailNext() { failNext_ = true; }

 protected:
  void ThrowIfFailing(const char* what) const {
    if (std::exchange(failNext_, false)) throw std::runtime_error(what);
  }

 private:
  mutable bool failNext_ = false;
};
struct FaultyClock : FailingNext<FakeClock> {
  LocalTime Now() const override {
    ThrowIfFailing("clock failed");
    return FakeClock::Now();
  }
};
struct FaultyConnectionList : FailingNext<InMemoryConnectionList> {
  void SetSubItem(int row, int subItem, const std::string& text) override {
    ThrowIfFailing("list view failed");
    InMemoryConnectionList::SetSubItem(row, subItem, text);
  }
};
struct FaultyDebugList : FailingNext<InMemoryDebugList> {
  void AddItem(const std::string& text) override {
    ThrowIfFailing("debug list failed");
    InMemoryDebugList::AddItem(text);
  }
};

// The whole gateway over fakes: every socket and serial port, the in-memory views, a fake clock
// and timer, and a temporary program folder whose log file the tests read back.
class GatewayFixture : public ::testing::Test {
 protected:
  GatewayFixture() {
    std::filesystem::create_directories(folder_.Path() + "LogFiles");
    for (int port = 0; port < PortCount; ++port) {
      listeners[port] = &ports.WinsockConnect(port);
      dataSockets[port] = &ports.WinsockData(port);
      serialPorts[port] = &ports.MSComm(port);
    }
    ostrelListener.SetLocalPort(14000);
    ostrelListener.Listen();
  }

  // Makes port n used, with a row in the connection list.
  PortEntry& UsePort(int16_t port, PortKind kind, const std::string& description = "Panel") {
    PortEntry& entry = gateway.PortSettings(port);
    entry.Description = description;
    entry.Kind = kind;
    entry.ConnectionListItem = connectionList.AddRow(description);
    return entry;
  }
  void ConnectOstrel(const std::string& address = "10.0.0.9", int32_t port = 5000) {
    ostrelListener.RequestConnection(address, port);
  }
  void Receive(int16_t port, std::string_view data) { gateway.ProcessReceivedData(port, data); }
  static HostAllowList Hosts(const std::string& text) {
    std::string badEntry;
    return HostAllowList::Parse(text, badEntry).value();
  }
  std::string Sent() { return ostrelData.TakeSent(); }
  const PortTotals& TotalsOf(int16_t port) const { return gateway.Sources().Ports[port].Totals(); }
  const OstrelTotals& LinkTotals() const { return gateway.Sources().Link.Totals(); }

  // The log's messages, without their time stamps.
  std::vector<std::string> LogMessages() const { return folder_.Messages(); }
  const std::string& RowText(int16_t port, int subItem) const {
    return connectionList.Rows()
        .at(gateway.PortSettings(port).ConnectionListItem)
        .SubItems[subItem];
  }

  TempFolder folder_;  // first in, last out: removed after the gateway and its log
  FaultyClock clock;
  FakeNetwork network;
  FaultyDebugList debugList;
  InMemoryMenuChecks menus;
  FaultyConnectionList connectionList;
  InMemoryStatusBar statusBar;
  FakeUpdateTimer timer;
  PortControls<FakeSocketControl, FakeSerialControl> ports{
      [this] { return std::make_unique<FakeSocketControl>(&network); },
      [] { return std::make_unique<FakeSerialControl>(); }};
  std::array<FakeSocketControl*, PortCount> listeners{};
  std::array<FakeSocketControl*, PortCount> dataSockets{};
  std::array<FakeSerialControl*, PortCount> serialPorts{};
  FakeSocketControl& ostrelListener = ports.WinsockOstrelConnect();
  FakeSocketControl& ostrelData = ports.WinsockOstrelData();
  Controls controls = ports.Wired();  // tests may swap a control in
  GatewayAssembly assembly{GatewaySurroundings{clock, controls, connectionList, statusBar,
                                               debugList, menus, timer, folder_.Path(),
                                               folder_.Path() + "LogFiles"}};
  ProgramState& state = assembly.State;
  LogFile& log = assembly.Log;
  Gateway& gateway = assembly.TheGateway;
};

}  // namespace tarvel
