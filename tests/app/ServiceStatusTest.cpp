#include "app/GatewayFixture.h"
#include "app/ServiceStatus.h"

namespace tarvel {
namespace {

using ServiceStatusTest = GatewayFixture;

TEST_F(ServiceStatusTest, TellsAlarmServerInputPortsAndKeptLinesWhenTheyChange) {
  UsePort(0, PortKind::TcpServer);
  UsePort(2, PortKind::TcpClient);
  UsePort(5, PortKind::Serial);
  state.General.BufferIfOstrelNotConnected = true;
  std::vector<std::string> sent;
  ServiceStatus status(gateway.Sources(),
                       [&](const std::string& message) { sent.push_back(message); });

  const std::string alarm = "ALARM 07-06-2017 10:20:30 ZONE-1            a\n";
  Receive(5, alarm + alarm);  // kept: no alarm server
  status.Beat();
  status.Beat();  // nothing changed: only the sign of life
  dataSockets[2]->SetState(SocketControl::Connected);
  serialPorts[5]->SetPortOpen(true);
  ConnectOstrel();
  timer.Tick();  // the kept lines go out
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
