#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ServiceStatus.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeSocketControl.h"
#include "state/PortControls.h"

namespace tarvel {
namespace {

TEST(ServiceStatus, TellsAlarmServerInputPortsAndKeptLinesWhenTheyChange) {
  ProgramState state;
  PortControls<FakeSocketControl, FakeSerialControl> ports{
      [] { return std::make_unique<FakeSocketControl>(); },
      [] { return std::make_unique<FakeSerialControl>(); }};
  state.Ports[0].Kind = PortKind::TcpServer;
  state.Ports[2].Kind = PortKind::TcpClient;
  state.Ports[5].Kind = PortKind::Serial;
  std::vector<std::string> sent;
  FakeClock clock;
  LogFile log(clock, "/nonexistent/");
  KeptLines kept(log, nullptr);
  ServiceStatus status(state, ports.Wired(), kept,
                       [&](const std::string& message) { sent.push_back(message); });

  kept.Append("0|a\n0|b\n");
  status.Beat();
  status.Beat();  // nothing changed: only the sign of life
  ports.WinsockData(2).SetState(SocketControl::Connected);
  ports.MSComm(5).SetPortOpen(true);
  ports.WinsockOstrelData().SetState(SocketControl::Connected);
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
