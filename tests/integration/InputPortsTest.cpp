// The gateway as one running program: equipment on TCP server, TCP client and serial ports,
// an alarm server on the gateway's alarm-server port, and the keep file across a kill.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "../../tools/KeepDrain.h"
#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::string Number(int value) {
  return std::to_string(value);
}

std::string PortSection(int port, const std::string& keys) {
  return "[TARVEL80_Port_" + Number(port) + "]\n" + keys;
}

std::string ServerPort(int port, int listenPort) {
  return PortSection(port, "PortType=TCPS\nListenPort=" + Number(listenPort) + "\n");
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

class InputPortsTest : public ::testing::Test {
 protected:
  // Starts the gateway headless with the given port sections and [General] keys, reconnecting
  // every second, and waits until every port is set up.
  void Start(const std::string& sections, const std::string& general = "") {
    folder_.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + Number(ostrelPort_) +
                                            "\nReconnectInterval=1\nWatchDogInterval=0\n" +
                                            general + sections);
    gateway_ = std::make_unique<GatewayProcess>(
        folder_, std::vector<std::string>{"--headless", "--dir", folder_.Path()});
    ASSERT_TRUE(folder_.WaitForMessage("Running: ", ++starts_)) << gateway_->StandardError();
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
  size_t starts_ = 0;
};

// Per-port conversion, framing and the multi-line format are the unit tests', and a TCP server
// port is every other run's; here a real client port and a real serial line each carry a message
// cut into pieces to the real alarm-server connection.
TEST_F(InputPortsTest, ClientAndSerialPortsFrameMessagesHoweverTheyAreCut) {
  Listener equipmentBehindClientPort;
  Listener taken;  // the status port: that is logged, and the gateway goes on
  PseudoTerminal serialLine;
  const std::string clientTarget = "127.0.0.1:" + Number(equipmentBehindClientPort.Port());
  Start(PortSection(1, "PortType=TCPC\nRemoteAddress=" + clientTarget + "\n") +
            PortSection(2, "PortType=COM\nComSetting=COM1,9600,N,8,1,0\n") +
            "[SerialDevices]\nCOM1=" + serialLine.SlavePath() + "\n",
        "StatusPort=" + Number(taken.Port()) + "\n");

  // The client port's first attempt comes with the first one-second step (TcpPortTest's timing).
  auto clientPortPeer = equipmentBehindClientPort.Accept(3000ms);
  ASSERT_NE(clientPortPeer, nullptr);
  EXPECT_TRUE(folder_.WaitForMessage("Connection (1) was established to " + clientTarget));
  Client alarmServer(ostrelPort_);
  EXPECT_TRUE(folder_.WaitForMessage("Accepted Ostrel connection from 127.0.0.1:" +
                                     Number(alarmServer.LocalPort())));

  // One message in pieces of three bytes: date, time, tag and line end are all cut apart. Its
  // text holds every kind of byte a line may carry: NUL, XON, XOFF, DEL, 8-bit.
  const std::string text = std::string("Door forced open \0\x11\x13\x7F\x80\xE4\xFF", 24);
  const std::pair<std::string, std::function<void(const std::string&)>> rows[] = {
      {"ZONE-TCPC", [&](const auto& bytes) { SendInPieces(*clientPortPeer, bytes, 3); }},
      {"ZONE-COM", [&](const auto& bytes) { SendInPieces(serialLine, bytes, 3); }},
  };
  std::string expected;
  for (const auto& [tag, send] : rows) {
    send(Message("ALARM", tag, text));
    expected += EventLine(1, tag, text);
    EXPECT_EQ(alarmServer.ReadUntil(expected), expected) << tag;
  }

  // The terminal gets the reason as the log does.
  const std::string failed =
      "Could not set status port (127.0.0.1:" + Number(taken.Port()) + ") to listen mode, err: ";
  EXPECT_EQ(folder_.CountMessages(failed), 1u);
  EXPECT_NE(gateway_->StandardError().find(failed), std::string::npos) << gateway_->StandardError();
}

// An alarm server that reads slowly while a burst arrives gets every line, in order: the
// gateway holds the equipment back instead of dropping the alarm server. The burst's output is
// larger than the send queue may grow, so it gets through only if the input is paused and resumed.
TEST_F(InputPortsTest, SlowAlarmServerGetsEveryLineOfABurstInOrder) {
  constexpr int Lines = 600000;
  const int listenPort = FreePort();
  Start(ServerPort(3, listenPort));
  // A fixed receive buffer: the kernel must not take the burst off the gateway's hands.
  const int reader = socket(AF_INET, SOCK_STREAM, 0);
  const int bufferSize = 64 * 1024;
  setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
  const sockaddr_in gateway{
      AF_INET, htons(static_cast<uint16_t>(ostrelPort_)), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(connect(reader, reinterpret_cast<const sockaddr*>(&gateway), sizeof gateway), 0);
  ASSERT_TRUE(WaitUntil([&] { return folder_.CountMessages("Accepted Ostrel connection") == 1; }));
  Client equipment(listenPort);
  ASSERT_TRUE(folder_.WaitForMessage("Connection (3) accepted from 127.0.0.1:" +
                                     Number(equipment.LocalPort())));
  std::string burst, expected;
  for (int n = 0; n < Lines; ++n) {
    burst += Message("ALARM", "Z" + Number(n), "Door " + Number(n));
    expected += EventLine(1, "Z" + Number(n), "Door " + Number(n));
  }
  ASSERT_GT(expected.size(), 20u << 20);
  std::thread sender([&] { equipment.Send(burst); });  // blocks while held back
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
  EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size() << " bytes";
}

// Only the real process shows that kept lines outlive kill -9 and a restart.
using KeepFile = InputPortsTest;
TEST_F(KeepFile, LinesKeptInTheFileOutliveAKillAndGoOutOnceInOrderBeforeNewerOnes) {
  constexpr int Count = 10000;
  const int inputPort = FreePort();
  const std::string keys = "KeepFile=kept.dat\nKeepLimit=10000000\n";
  std::string input, expected;
  for (int n = 0; n < Count; ++n) {
    const std::string tag = "K" + Number(100000 + n);  // all of one length
    input += Message("ALARM", tag, "Kept");
    expected += EventLine(1, tag, "Kept");
  }
  const size_t fileSize = 48 + Count * 24 + expected.size();  // header, records
  auto keptBytes = [&] {
    std::error_code missing;
    const auto size = std::filesystem::file_size(folder_.Path() + "kept.dat", missing);
    return missing ? 0 : size;
  };
  Start(ServerPort(0, inputPort), keys);
  Client equipment(inputPort);
  equipment.Send(input);
  ASSERT_TRUE(WaitUntil([&] { return keptBytes() >= fileSize; }, 30000ms));
  gateway_->Signal(SIGKILL);
  ASSERT_EQ(gateway_->WaitForExit(), -1);

  Start(ServerPort(0, inputPort), keys);
  const std::string restored = "Keep file " + folder_.Path() + "kept.dat: 10000 event lines";
  ASSERT_TRUE(folder_.WaitForMessage(restored));
  Client(inputPort).Send(Message("ALARM", "NEWER", "Kept"));
  Client alarmServer(ostrelPort_);
  alarmServer.ReadUntil(EventLine(1, "NEWER", "Kept"), 30000ms);
  EXPECT_TRUE(alarmServer.ReadUntil("never", 300ms) == expected + EventLine(1, "NEWER", "Kept"));
  EXPECT_EQ(folder_.CountMessages(restored), 1u);
  EXPECT_TRUE(WaitUntil([&] { return keptBytes() == 48; })) << "the sent lines leave the file";
}

// A backlog larger than the socket buffers, drained by a slow alarm server through kills and a
// stop: what the system had not taken when the gateway ended goes out after the restart.
TEST(KeepFileDrain, NothingKeptIsLostWhenTheGatewayIsKilledOrStoppedMidDrain) {
  tools::KeepDrainOptions options;
  options.Lines = 100000;  // 10 MB, more than the kernel's buffers hold
  options.Signals = {SIGTERM, SIGKILL};
  options.BytesPerSecond = 400000;
  options.RoundMs = 1000;
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  const int inputPort = FreePort();
  folder.Write("TARVEL80Import.ini",
               OstrelPortIni(ostrelPort) +
                   "WatchDogInterval=0\nKeepFile=kept.dat\nKeepLimit=100000000\n"
                   "[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" +
                   Number(inputPort) + "\n");
  const tools::KeepDrainResult result = tools::DrainKeptLinesWithInterruptions(
      folder, ostrelPort, inputPort,
      [&] {
        return std::make_unique<tools::ChildProcess>(
            std::vector<std::string>{GATEWAY_EXECUTABLE, "--headless", "--dir", folder.Path()},
            folder.Path() + "stderr.txt");
      },
      options);
  ASSERT_TRUE(result.Ok) << result.Problem;
  EXPECT_EQ(result.Lost, 0u);
  // A line goes out twice only when a kill falls between the system taking it and its mark in
  // the file: one pass of the event loop.
  EXPECT_LE(result.Doubled, 2000u);
  EXPECT_EQ(result.LeftAtStops, 1u) << "the stop says what it left for the next start";
}

}  // namespace
}  // namespace tarvel::integration
