// The gateway as one running program between equipment and an alarm server: a serial line, and
// the keep file across kills and stops.

#include <gtest/gtest.h>

#include <filesystem>

#include "../../tools/KeepDrain.h"
#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::string ServerPort(int listenPort) {
  return "[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" + std::to_string(listenPort) + "\n";
}

// A single-line message as the equipment sends it, and the alarm server's line of it.
std::string Message(const std::string& tag, const std::string& text) {
  return "ALARM 07-06-2017 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + text + "\r\n";
}
std::string EventLine(const std::string& tag, const std::string& text) {
  return "1|2017-06-07|10:20:30|" + tag + "||||" + text + "\n";
}

class InputPortsTest : public ::testing::Test {
 protected:
  void Configure(const std::string& sections, const std::string& general = "") {
    folder_.Write("TARVEL80Import.ini",
                  OstrelPortIni(ostrelPort_) + "WatchDogInterval=0\n" + general + sections);
  }
  // Starts the gateway headless and waits until every port is set up.
  void Start(const std::string& sections, const std::string& general = "") {
    Configure(sections, general);
    gateway_ = std::make_unique<GatewayProcess>(
        folder_, std::vector<std::string>{"--headless", "--dir", folder_.Path()});
    ASSERT_TRUE(folder_.WaitForMessage("Running: ", ++starts_)) << gateway_->StandardError();
  }

  // Whatever a test sent, the gateway is still running at its end.
  void TearDown() override { EXPECT_TRUE(!gateway_ || gateway_->Running()) << folder_.Path(); }

  ProgramFolder folder_;
  const int ostrelPort_ = FreePort();
  std::unique_ptr<GatewayProcess> gateway_;
  size_t starts_ = 0;
};

// A real serial line carries a message cut into pieces to the alarm server (the TCP ports are the
// walkthrough's). A status port that cannot listen is logged and told, and the gateway goes on.
TEST_F(InputPortsTest, SerialPortFramesAMessageHoweverItIsCut) {
  Listener taken;
  PseudoTerminal serialLine;
  Start("[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM1,9600,N,8,1,0\n[SerialDevices]\nCOM1=" +
            serialLine.SlavePath() + "\n",
        "StatusPort=" + std::to_string(taken.Port()) + "\n");
  const std::string failed =
      "Could not set status port (127.0.0.1:" + std::to_string(taken.Port()) +
      ") to listen mode, err: ";
  EXPECT_EQ(folder_.CountMessages(failed), 1u);
  EXPECT_NE(gateway_->StandardError().find(failed), std::string::npos) << gateway_->StandardError();
  Client alarmServer(ostrelPort_);
  EXPECT_TRUE(folder_.WaitForMessage("Accepted Ostrel connection from 127.0.0.1:" +
                                     std::to_string(alarmServer.LocalPort())));
  // Date, time, tag and line end all cut apart; NUL, XON, XOFF, DEL and 8-bit bytes in the text.
  const std::string text = std::string("Door forced open \0\x11\x13\x7F\x80\xE4\xFF", 24);
  SendInPieces(serialLine, Message("ZONE-COM", text), 3);
  EXPECT_EQ(alarmServer.ReadUntil(EventLine("ZONE-COM", text)), EventLine("ZONE-COM", text));
}

// Only the real process shows that kept lines outlive kill -9 and a restart.
using KeepFile = InputPortsTest;
TEST_F(KeepFile, LinesKeptInTheFileOutliveAKillAndGoOutOnceInOrderBeforeNewerOnes) {
  const int inputPort = FreePort();
  const std::string keys = "KeepFile=kept.dat\nKeepLimit=10000000\n";
  std::string input, expected;
  for (int n = 100000; n < 110000; ++n) {  // tags all of one length
    input += Message("K" + std::to_string(n), "Kept");
    expected += EventLine("K" + std::to_string(n), "Kept");
  }
  const std::string kept = folder_.Path() + "kept.dat";
  auto keptBytes = [&] {
    return std::filesystem::exists(kept) ? std::filesystem::file_size(kept) : 0;
  };
  Start(ServerPort(inputPort), keys);
  Client(inputPort).Send(input);
  // The file's header, and the 10000 records, each 24 bytes and its line.
  ASSERT_TRUE(WaitUntil([&] { return keptBytes() >= 48 + 10000 * 24 + expected.size(); }, 30s));
  gateway_->Signal(SIGKILL);
  ASSERT_EQ(gateway_->WaitForExit(), -1);

  Start(ServerPort(inputPort), keys);
  const std::string restored = "Keep file " + folder_.Path() + "kept.dat: 10000 event lines";
  ASSERT_TRUE(folder_.WaitForMessage(restored));
  Client(inputPort).Send(Message("NEWER", "Kept"));
  Client alarmServer(ostrelPort_);
  alarmServer.ReadUntil(EventLine("NEWER", "Kept"), 30s);
  EXPECT_TRUE(alarmServer.ReadUntil("never", 300ms) == expected + EventLine("NEWER", "Kept"));
  EXPECT_EQ(folder_.CountMessages(restored), 1u);
  EXPECT_TRUE(WaitUntil([&] { return keptBytes() == 48; })) << "the sent lines leave the file";
}

// 10 MB kept, drained by a slow alarm server through a stop and a kill: nothing is lost.
using KeepFileDrain = InputPortsTest;
TEST_F(KeepFileDrain, NothingKeptIsLostWhenTheGatewayIsKilledOrStoppedMidDrain) {
  const int inputPort = FreePort();
  Configure(ServerPort(inputPort), "KeepFile=kept.dat\nKeepLimit=100000000\n");
  const tools::KeepDrainResult result = tools::DrainKeptLinesWithInterruptions(
      folder_, ostrelPort_, inputPort,
      [&] {
        return std::make_unique<tools::ChildProcess>(
            std::vector<std::string>{GATEWAY_EXECUTABLE, "--headless", "--dir", folder_.Path()},
            folder_.Path() + "stderr.txt");
      },
      {.Lines = 100000, .Signals = {SIGTERM, SIGKILL}, .BytesPerSecond = 400000, .RoundMs = 1000});
  ASSERT_TRUE(result.Ok) << result.Problem;
  EXPECT_EQ(result.Lost, 0u);
  // Twice only when a kill falls between the system taking a line and its mark in the file.
  EXPECT_LE(result.Doubled, 2000u);
  EXPECT_EQ(result.LeftAtStops, 1u) << "the stop says what it left for the next start";
}

}  // namespace
}  // namespace tarvel::integration
