#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

// A client that the gateway refuses: the kernel makes the connection, the gateway closes it at
// once with nothing sent.
void ExpectClosedAtOnce(const std::string& address, int port, const std::string& source) {
  Client refused(address, port, source);
  ASSERT_TRUE(refused.Connected());
  EXPECT_TRUE(refused.WaitForClose()) << "from " << source;
  EXPECT_EQ(refused.ReadUntil("\n", 0ms), "");
}

// What the real sockets show: the peer address of an IPv4 client on the dual-stack alarm-server
// listener, and on a listener bound to an IPv4 address, matched by both spellings of an entry.
// The status port is taken: that is logged, and the gateway goes on. It runs on the desktop (its
// windows drawn offscreen), where SIGINT writes one stop line; headless, SIGTERM is the
// walkthrough's and SIGHUP the service test's, and each signal's reason is the unit test's.
TEST(Access, AllowListsAndBindAddressesHoldOnTheRealSockets) {
  ProgramFolder folder;
  Listener taken;
  const int ostrelPort = FreePort();
  const int equipmentPort = FreePort();
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                   "\nStatusPort=" + std::to_string(taken.Port()) +
                   "\nOstrelAllowedHosts=10.9.9.9, 127.0.0.2/32\n[TARVEL80_Port_0]\n"
                   "PortType=TCPS\nListenAddress=127.0.0.1\nAllowedHosts=::ffff:127.0.0.5\n"
                   "ListenPort=" +
                   std::to_string(equipmentPort) + "\n");
  GatewayProcess gateway(folder, {"--dir", folder.Path()},
                         {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
  ASSERT_TRUE(folder.WaitForMessage("Set (0) in listen mode for IP port"))
      << gateway.StandardError();

  Client alarmServer("127.0.0.1", ostrelPort, "127.0.0.2");
  ASSERT_TRUE(folder.WaitForMessage("Accepted Ostrel connection from 127.0.0.2:"));
  for (int n = 0; n < 3; ++n) ExpectClosedAtOnce("127.0.0.1", ostrelPort, "127.0.0.3");
  for (int n = 0; n < 3; ++n) ExpectClosedAtOnce("127.0.0.1", equipmentPort, "127.0.0.3");
  EXPECT_FALSE(Client("127.0.0.2", equipmentPort, "127.0.0.5", 300ms).Connected());

  Client equipment("127.0.0.1", equipmentPort, "127.0.0.5");
  const std::string event = "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n";
  equipment.Send("ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\r\n");
  EXPECT_EQ(alarmServer.ReadUntil(event), event);
  EXPECT_EQ(folder.CountMessages("Refused Ostrel connection from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Connection (0) refused from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Connection (0) accepted from 127.0.0.5:"), 1u);
  EXPECT_EQ(folder.CountMessages("Could not set status port (127.0.0.1:" +
                                 std::to_string(taken.Port()) + ") to listen mode, err: "),
            1u);
  gateway.Signal(SIGINT);
  EXPECT_EQ(gateway.WaitForExit(), 0);
  EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason 0");
}

}  // namespace
}  // namespace tarvel::integration
