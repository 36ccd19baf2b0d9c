// The gateway as one running program: equipment on TCP server, TCP client and serial ports,
// an alarm server on the gateway's alarm-server port, and the log file, compared byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::string Number(int value) {
  return std::to_string(value);
}

std::string PortSection(int port, const std::string& description, const std::string& keys) {
  return "[TARVEL80_Port_" + Number(port) + "]\nDescription=" + description + "\n" + keys;
}

std::string ServerPort(int port, int listenPort, const std::string& keys = "") {
  return PortSection(port, "Panel",
                     "PortType=TCPS\nListenPort=" + Number(listenPort) + "\n" + keys);
}

// A single-line message as the equipment sends it: the tag padded to 18 characters, CR LF.
std::string Message(const std::string& type, const std::string& tag, const std::string& text) {
  std::string padded = tag;
  padded.resize(std::max<size_t>(18, tag.size()), ' ');
  return type + " 07-06-2017 10:20:30 " + padded + text + "\r\n";
}

// The alarm-server line of such a message.
std::string EventLine(int stateCode, const std::string& tag, const std::string& text) {
  return Number(stateCode) + "|2017-06-07|10:20:30|" + tag + "||||" + text + "\n";
}

// Whether `stamp` ("YYYY-MM-DD|HH:NN:SS") is the local time of one of the last `seconds` seconds.
bool WithinLastSeconds(const std::string& stamp, int seconds) {
  for (int back = 0; back <= seconds; ++back) {
    const std::time_t then = std::time(nullptr) - back;
    std::tm local{};
    localtime_r(&then, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d|%H:%M:%S", &local);
    if (stamp == text) return true;
  }
  return false;
}

class InputPortsTest : public ::testing::Test {
 protected:
  // Starts the gateway headless with the given port sections, reconnecting every second.
  void Start(const std::string& sections) {
    folder_.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + Number(ostrelPort_) +
                                            "\nReconnectInterval=1\nWatchDogInterval=0\n" +
                                            sections);
    gateway_ = std::make_unique<GatewayProcess>(
        folder_, std::vector<std::string>{"--headless", "--dir", folder_.Path()});
    ASSERT_TRUE(folder_.WaitForMessage(StartLine)) << gateway_->StandardError();
  }

  size_t CountLog(const std::string& message) const {
    const auto messages = folder_.Messages();
    return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
  }
  // Waits for a log line that is exactly `message` after its stamp.
  bool WaitForLog(const std::string& message) const {
    return WaitUntil([&] { return CountLog(message) >= 1; });
  }
  std::string LogText() const {
    std::string text;
    for (const std::string& message : folder_.Messages()) text += message + "\n";
    return text;
  }

  // Connects equipment to a TCP server port and waits until the gateway has logged it.
  std::unique_ptr<Client> ConnectEquipment(int port, int listenPort) {
    auto equipment = std::make_unique<Client>(listenPort);
    EXPECT_TRUE(WaitForLog("Connection (" + Number(port) +
                           ") accepted from 127.0.0.1:" + Number(equipment->LocalPort())))
        << LogText();
    return equipment;
  }

  // Whatever a test sent, the gateway is still running at its end.
  void TearDown() override {
    if (gateway_) {
      EXPECT_TRUE(gateway_->Running()) << gateway_->StandardError();
    }
  }

  ProgramFolder folder_;
  const int ostrelPort_ = FreePort();
  std::unique_ptr<GatewayProcess> gateway_;
};

TEST_F(InputPortsTest, EveryKindOfPortFramesMessagesHoweverTheyAreCut) {
  Listener equipmentBehindClientPort;
  PseudoTerminal serialLine;
  const int serverListenPort = FreePort();
  const std::string clientTarget = "127.0.0.1:" + Number(equipmentBehindClientPort.Port());
  Start(ServerPort(0, serverListenPort, "Swedish7BitASCII2ISOLatin1=1\n") +
        PortSection(1, "Client",
                    "PortType=TCPC\nDOSASCII2ISOLatin1=1\nRemoteAddress=" + clientTarget + "\n") +
        PortSection(2, "Serial", "PortType=COM\nComSetting=COM1,9600,N,8,1,0\n") +
        "[SerialDevices]\nCOM1=" + serialLine.SlavePath() + "\n");
  EXPECT_TRUE(WaitForLog("Set (0) in listen mode for IP port " + Number(serverListenPort)));
  EXPECT_TRUE(WaitForLog("Created socked client for IP " + clientTarget));
  EXPECT_TRUE(WaitForLog("Opened (2) port COM1")) << LogText();

  // The client port's first attempt comes with the first one-second step (TcpPortTest's timing).
  auto clientPortPeer = equipmentBehindClientPort.Accept(3000ms);
  ASSERT_NE(clientPortPeer, nullptr) << LogText();
  EXPECT_TRUE(WaitForLog("Connection (1) was established to " + clientTarget)) << LogText();
  auto serverPortPeer = ConnectEquipment(0, serverListenPort);
  Client alarmServer(ostrelPort_);
  EXPECT_TRUE(
      WaitForLog("Accepted Ostrel connection from 127.0.0.1:" + Number(alarmServer.LocalPort())));

  // National characters as each port's setting has them converted (the serial port converts none).
  struct Row {
    const char* name;
    std::function<void(const std::string& bytes, size_t pieceSize)> send;
    std::string national, converted;
  };
  const Row rows[] = {
      {"TCP server port",
       [&](auto& bytes, size_t size) { SendInPieces(*serverPortPeer, bytes, size); }, "[\\]{|}",
       "\xC4\xD6\xC5\xE4\xF6\xE5"},
      {"TCP client port",
       [&](auto& bytes, size_t size) { SendInPieces(*clientPortPeer, bytes, size); },
       "\x8E\x8F\x99\x84\x86\x94\x81\x82\x9B", "\xC4\xC5\xD6\xE4\xE5\xF6\x81\xE9\xF8"},
      {"serial port", [&](auto& bytes, size_t size) { SendInPieces(serialLine, bytes, size); },
       "[\\]{}\x8E\x99", "[\\]{}\x8E\x99"},
  };
  std::string expected;
  for (const Row& row : rows) {
    const std::string tag = std::string("ZONE-") + row.name[0] + row.name[4];
    // One message in pieces of three bytes: date, time, tag and line end are all cut apart.
    // Its text holds every kind of byte a line may carry: NUL, XON, XOFF, DEL, 8-bit.
    const std::string text = std::string("Door forced open \0\x11\x13\x7F\x80\xE4\xFF", 24);
    row.send(Message("ALARM", tag, text), 3);
    expected += EventLine(1, tag, text);
    // Two messages in one write (each event type is ReceivedDataProcessorTest's); the second's
    // national characters as the port converts them.
    const std::string both =
        Message("NORMAL", tag + "-0", "Event 0") + Message("ALARM", tag + "-N", row.national);
    row.send(both, both.size());
    expected += EventLine(0, tag + "-0", "Event 0") + EventLine(1, tag + "-N", row.converted);
    EXPECT_EQ(alarmServer.ReadUntil(expected), expected) << row.name;
  }

  // A multi-line event without a stamp goes out by the timer, stamped with the gateway's clock;
  // from now on the server port reads the multi-line format.
  serverPortPeer->Send("ACK ALARM Zone 4\r\nDoor open\r\n");
  const std::string received = alarmServer.ReadUntil("Door open\n", 3000ms);
  const std::string layout = "1|YYYY-MM-DD|HH:NN:SS|ACK ALARM Zone 4||||Door open\n";
  ASSERT_EQ(received.size(), expected.size() + layout.size()) << received;
  const std::string timed = received.substr(expected.size());
  EXPECT_EQ(timed.substr(0, 2) + timed.substr(21), "1||ACK ALARM Zone 4||||Door open\n");
  EXPECT_TRUE(WithinLastSeconds(timed.substr(2, 19), 4)) << timed;
}

// An alarm server that reads slowly while a burst arrives gets every line, in order: the
// gateway holds the equipment back instead of dropping the alarm server.
TEST_F(InputPortsTest, SlowAlarmServerGetsEveryLineOfABurstInOrder) {
  constexpr int Lines = 100000;
  const int listenPort = FreePort();
  Start(ServerPort(3, listenPort));
  const sockaddr_storage target = Client::SocketAddress("127.0.0.1", ostrelPort_);
  // The start line comes before the listener listens: retry until it does.
  int reader = -1;
  ASSERT_TRUE(WaitUntil([&] {
    reader = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(reader, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
      return true;
    close(reader);
    return false;
  }));
  ASSERT_TRUE(WaitUntil([&] { return folder_.CountMessages("Accepted Ostrel connection") == 1; }));
  auto equipment = ConnectEquipment(3, listenPort);
  std::string burst, expected;
  for (int n = 0; n < Lines; ++n) {
    burst += Message("ALARM", "Z" + Number(n), "Door " + Number(n));
    expected += EventLine(1, "Z" + Number(n), "Door " + Number(n));
  }
  std::thread sender([&] { equipment->Send(burst); });  // blocks while held back
  std::string received;
  std::vector<char> buffer(64 * 1024);
  const auto deadline = Clock::now() + 120s;
  while (received.size() < expected.size() && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);  // 64 KiB every 10 ms
    const ssize_t count = recv(reader, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (count > 0) received.append(buffer.data(), static_cast<size_t>(count));
  }
  sender.join();
  EXPECT_EQ(folder_.CountMessages("Ostrel connection"), 0u) << "never dropped";
  close(reader);
  EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size() << " bytes\n"
                                    << LogText();
}

}  // namespace
}  // namespace tarvel::integration
