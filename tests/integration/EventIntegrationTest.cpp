#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";
const std::string Accepted = "Accepted Ostrel connection from 127.0.0.1:";

TEST(AlarmServer, ANewConnectionReplacesTheOld) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(ostrelPort) + "\n");
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();

  Client first(ostrelPort);
  ASSERT_TRUE(folder.WaitForMessage(Accepted));
  Client second(ostrelPort);
  ASSERT_TRUE(folder.WaitForMessage(Accepted, 2));

  EXPECT_TRUE(first.WaitForClose());
  EXPECT_EQ(folder.CountMessages("Ostrel connection was closed"), 0u);
  EXPECT_TRUE(gateway.Running());
}

TEST(AlarmServer, ReceivesTheEventThatEquipmentSent) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  const int inputPort = FreePort();
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                   "\n[TARVEL80_Port_0]\nDescription=Panel\nPortType=TCPS\nListenPort=" +
                   std::to_string(inputPort) + "\n");
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();

  Client alarmServer(ostrelPort);
  ASSERT_TRUE(folder.WaitForMessage(Accepted));
  Client equipment(inputPort);
  ASSERT_TRUE(equipment.Connected());
  equipment.Send("ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\r\n");

  EXPECT_EQ(alarmServer.ReadUntil("\n"),
            "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n");
}

}  // namespace
}  // namespace tarvel::integration
