#include <gtest/gtest.h>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

std::string Input(const std::string& tag) {
  return "ALARM 07-06-2017 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + "Kept\r\n";
}
std::string Output(const std::string& tag) {
  return "1|2017-06-07|10:20:30|" + tag + "||||Kept\n";
}
std::string Tag(int n) {
  const std::string digits = std::to_string(n);
  return "K" + std::string(6 - digits.size(), '0') + digits;
}

// Only the real process shows that kept lines outlive kill -9 and a restart.
TEST(KeepFile, LinesKeptInTheFileOutliveAKillAndGoOutOnceInOrderBeforeNewerOnes) {
  constexpr int Count = 10000;
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  const int inputPort = FreePort();
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                   "\nKeepFile=kept.dat\nKeepLimit=10000000\n[TARVEL80_Port_0]\nDescription="
                   "Panel\nPortType=TCPS\nListenPort=" +
                   std::to_string(inputPort) + "\n");
  std::string input, expected;
  for (int n = 0; n < Count; ++n) {
    input += Input(Tag(n));
    expected += Output(Tag(n));
  }
  const size_t fileSize = 48 + Count * (8 + Output(Tag(0)).size());
  auto keptBytes = [&] {
    std::error_code missing;
    const auto size = std::filesystem::file_size(folder.Path() + "kept.dat", missing);
    return missing ? 0 : size;
  };
  {
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
    ASSERT_TRUE(folder.WaitForMessage(StartLine)) << gateway.StandardError();
    Client equipment(inputPort);
    equipment.Send(input);
    ASSERT_TRUE(WaitUntil([&] { return keptBytes() >= fileSize; }, 30000ms));
    gateway.Signal(SIGKILL);
    ASSERT_EQ(gateway.WaitForExit(), -1);
  }
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  ASSERT_TRUE(folder.WaitForMessage(StartLine, 2)) << gateway.StandardError();
  ASSERT_TRUE(folder.WaitForMessage("Keep file " + folder.Path() + "kept.dat: 10000 event lines"));
  Client equipment(inputPort);
  equipment.Send(Input("NEWER"));
  Client alarmServer(ostrelPort);
  alarmServer.ReadUntil(Output("NEWER"), 30000ms);
  EXPECT_TRUE(alarmServer.ReadUntil("never", 300ms) == expected + Output("NEWER"));
  EXPECT_EQ(folder.CountMessages("Keep file " + folder.Path() + "kept.dat: 10000 event lines"), 1u);
  EXPECT_TRUE(WaitUntil([&] { return keptBytes() == 48; })) << "the sent lines leave the file";
}

}  // namespace
}  // namespace tarvel::integration
