#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ServiceStatus.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeSocketControl.h"

namespace tarvel {
namespace {

TEST(ServiceStatus, TellsAlarmServerInputPortsAndKeptLinesWhenTheyChange) {
  ProgramState state;
  FakeSocketControl ostrel;
  FakeSocketControl data[PortCount];
  FakeSerialControl serial;
  Controls controls;
  controls.WinsockOstrelData = &ostrel;
  for (int n = 0; n < PortCount; ++n) controls.WinsockData[n] = &data[n];
  controls.MSComm[5] = &serial;
  state.Ports[0].Kind = PortKind::TcpServer;
  state.Ports[2].Kind = PortKind::TcpClient;
  state.Ports[5].Kind = PortKind::Serial;
  std::vector<std::string> sent;
  FakeClock clock;
  LogFile log(clock, "/nonexistent/");
  KeptLines kept(log, nullptr);
  ServiceStatus status(state, controls, kept,
                       [&](const std::string& message) { sent.push_back(message); });

  kept.Append("0|a\n0|b\n");
  status.Beat();
  status.Beat();  // nothing changed: only the sign of life
  data[2].SetState(SocketControl::Connected);
  serial.SetPortOpen(true);
  ostrel.SetState(SocketControl::Connected);
  kept.Take(1024);
  status.Beat();

  EXPECT_EQ(sent,
            (std::vector<std::string>{
                "WATCHDOG=1",
                "STATUS=Alarm server not connected; input ports connected: 0 of 3; lines "
                "kept: 2",
                "WATCHDOG=1", "WATCHDOG=1",
                "STATUS=Alarm server connected; input ports connected: 2 of 3; lines kept: 0"}));
}

}  // namespace
}  // namespace tarvel
