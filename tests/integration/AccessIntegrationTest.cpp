#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";
const std::string Message = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\r\n";
const std::string Event = "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n";

std::vector<std::string> Headless(const ProgramFolder& folder) {
  return {"--headless", "--dir", folder.Path()};
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

bool LoopbackIPv6Works() {
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const sockaddr_storage address = Client::SocketAddress("::1", 0);
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

// A client that the gateway refuses: the connection is made by the kernel and closed at once
// by the gateway, with nothing sent.
void ExpectClosedAtOnce(const std::string& source, int port) {
  Client refused("127.0.0.1", port, source);
  ASSERT_TRUE(refused.Connected());
  EXPECT_TRUE(refused.WaitForClose()) << "from " << source;
  EXPECT_EQ(refused.ReadUntil("\n", 0ms), "");
}

TEST(Access, OstrelAllowListRefusesOtherHostsAndKeepsTheAlarmServer) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                                         "\nOstrelAllowedHosts=10.9.9.9, 127.0.0.2/32\n"
                                         "WatchDogTagName=WD\nWatchDogInterval=1\n");
  GatewayProcess gateway(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();

  Client alarmServer("127.0.0.1", ostrelPort, "127.0.0.2");
  ASSERT_TRUE(alarmServer.Connected());
  const std::string accepted =
      "Accepted Ostrel connection from 127.0.0.2:" + std::to_string(alarmServer.LocalPort());
  ASSERT_TRUE(folder.WaitForMessage(accepted));

  // A flood from two other hosts: each closed at once, one log line per host.
  for (const char* source : {"127.0.0.1", "127.0.0.3"}) {
    for (int n = 0; n < 15; ++n) ExpectClosedAtOnce(source, ostrelPort);
  }
  ASSERT_TRUE(folder.WaitForMessage("Refused Ostrel connection from 127.0.0.3:"));
  EXPECT_EQ(folder.CountMessages("Refused Ostrel connection from 127.0.0.1:"), 1u);
  EXPECT_EQ(folder.CountMessages("Refused Ostrel connection from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Refused Ostrel connection from "), 2u);

  // The alarm server was never disturbed: still connected, still getting watchdog lines.
  const size_t linesSoFar = Occurrences(alarmServer.ReadUntil("WD\n", 3000ms), "1|||WD\n");
  const std::string later = alarmServer.ReadUntil("never sent", 2500ms);  // two intervals
  EXPECT_GT(Occurrences(later, "1|||WD\n"), linesSoFar);
  EXPECT_EQ(folder.CountMessages("Ostrel connection was closed"), 0u);
  EXPECT_EQ(folder.CountMessages("Accepted Ostrel connection"), 1u);
  EXPECT_TRUE(gateway.Running());
}

TEST(Access, ServerPortAllowListRefusesOtherHostsAndKeepsTheConnectedPeer) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  const int equipmentPort = FreePort();
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                                         "\n[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" +
                                         std::to_string(equipmentPort) +
                                         "\nAllowedHosts=::ffff:127.0.0.5\n");
  GatewayProcess gateway(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();
  Client alarmServer(ostrelPort);
  ASSERT_TRUE(folder.WaitForMessage("Accepted Ostrel connection from "));

  for (int n = 0; n < 10; ++n) ExpectClosedAtOnce("127.0.0.1", equipmentPort);
  Client equipment("127.0.0.1", equipmentPort, "127.0.0.5");
  ASSERT_TRUE(folder.WaitForMessage("Connection (0) accepted from 127.0.0.5:"));
  equipment.Send(Message.substr(0, 20));
  // A second peer from the allowed host is refused too (the port is taken).
  ExpectClosedAtOnce("127.0.0.5", equipmentPort);
  equipment.Send(Message.substr(20));
  EXPECT_EQ(alarmServer.ReadUntil(Event), Event);

  const std::vector<std::string> messages = folder.Messages();
  std::vector<std::string> portLines;
  for (const std::string& message : messages) {
    if (message.starts_with("Connection (0) "))
      portLines.push_back(message.substr(0, message.rfind(':') + 1));
  }
  EXPECT_EQ(portLines, (std::vector<std::string>{
                           "Connection (0) refused from 127.0.0.1:",
                           "Connection (0) accepted from 127.0.0.5:",
                           "Connection (0) refused from 127.0.0.5:",
                       }))
      << "one line per host, whatever the flood";
}

TEST(Access, ListenersAreReachableOnlyAtTheirBindAddress) {
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  const int equipmentPort = FreePort();
  const bool ipv6 = LoopbackIPv6Works();
  const std::string ostrelAddress = ipv6 ? "::1" : "127.0.0.2";
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) + "\nOstrelBindAddress=" +
                   ostrelAddress + "\n[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" +
                   std::to_string(equipmentPort) + "\nListenAddress=127.0.0.1\n");
  GatewayProcess gateway(folder, Headless(folder));
  ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();
  ASSERT_TRUE(folder.WaitForMessage("Set (0) in listen mode for IP port"));

  EXPECT_TRUE(Client("127.0.0.1", equipmentPort).Connected());
  EXPECT_FALSE(Client("127.0.0.2", equipmentPort, "", 300ms).Connected());
  EXPECT_TRUE(Client(ostrelAddress, ostrelPort).Connected());
  EXPECT_FALSE(Client("127.0.0.1", ostrelPort, "", 300ms).Connected());
  ASSERT_TRUE(folder.WaitForMessage("Accepted Ostrel connection from " + ostrelAddress + ":"));
  EXPECT_TRUE(gateway.Running());
}

TEST(Access, UnusableBindAddressGoesTheListenFailureRoads) {
  // 192.0.2.1 is a documentation address that no machine of ours holds.
  {
    ProgramFolder folder;
    const int ostrelPort = FreePort();
    folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                                           "\nOstrelBindAddress=192.0.2.1\n");
    GatewayProcess gateway(folder, Headless(folder));
    EXPECT_TRUE(folder.WaitForMessage("Could not set Ostrel port (" + std::to_string(ostrelPort) +
                                      ") to listen mode, err: "))
        << gateway.StandardError();
    EXPECT_TRUE(gateway.Running()) << "the alarm-server listener failing does not stop the start";
  }
  {
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(FreePort()) +
                                           "\n[TARVEL80_Port_2]\nPortType=TCPS\nListenPort=" +
                                           std::to_string(FreePort()) +
                                           "\nListenAddress=192.0.2.1\n");
    GatewayProcess gateway(folder, Headless(folder));
    const auto status = gateway.WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_EQ(folder.CountMessages("Could not set socket in listen mode: "), 1u)
        << gateway.StandardError();
  }
}

TEST(Access, MalformedEntryEndsStartUpNamingKeyAndEntry) {
  const struct Row {
    std::string ini;
    std::string text;
  } rows[] = {
      {"[General]\nOstrelAllowedHosts=127.0.0.1, 127.0.0.0/40\n",
       "Configuration error: [General] OstrelAllowedHosts: not an IPv4 or IPv6 address or CIDR "
       "range \"127.0.0.0/40\""},
      {"[General]\nOstrelBindAddress=localhost\n",
       "Configuration error: [General] OstrelBindAddress: not an IPv4 or IPv6 address "
       "\"localhost\""},
      {"[TARVEL80_Port_4]\nAllowedHosts=alarm-panel\n",
       "Configuration error: [TARVEL80_Port_4] AllowedHosts: not an IPv4 or IPv6 address or CIDR "
       "range \"alarm-panel\""},
      {"[TARVEL80_Port_4]\nListenAddress=::1::2\n",
       "Configuration error: [TARVEL80_Port_4] ListenAddress: not an IPv4 or IPv6 address "
       "\"::1::2\""},
  };
  for (const Row& row : rows) {
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", row.ini);
    GatewayProcess gateway(folder, Headless(folder));
    const auto status = gateway.WaitForExit();
    ASSERT_TRUE(status.has_value()) << row.ini;
    EXPECT_EQ(*status, 1) << row.ini;
    EXPECT_EQ(folder.CountMessages(row.text), 1u) << row.ini;
    EXPECT_NE(gateway.StandardError().find(row.text), std::string::npos) << gateway.StandardError();
  }
}

}  // namespace
}  // namespace tarvel::integration
