#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "platform/EventLoopWait.h"
#include "platform/qt/QtSerialControl.h"
#include "support/AllByteValues.h"

namespace tarvel {
namespace {

using test::RunEventsFor;
using test::WaitUntil;

// A pseudo-terminal pair: the slave's path is the serial device, bytes written to the master
// arrive on it, and closing the master hangs the line up. Unlike the integration tests' terminal
// it is left as openpty makes it, not raw.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) path_ = name;
  }
  ~PseudoTerminal() {
    HangUp();
    if (slave_ >= 0) close(slave_);
  }
  std::string Path() const { return path_; }
  void Write(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// The control makes the terminal raw: every byte value arrives unchanged, and a hang-up is one
// loss after everything before it, with the event loop idle afterwards. While one control holds
// the device, another cannot open it. Every parity, data bits and stop bits value opens a
// pseudo-terminal.
TEST(QtSerialControlTest, EveryByteValueArrivesUnchangedAndAHangUpIsLostOnce) {
  PseudoTerminal terminal;
  int resolvedPort = 0, losses = 0;
  std::string received, receivedBeforeLoss, lossDescription;
  QtSerialControl port([&](int commPort) {
    resolvedPort = commPort;
    return terminal.Path();
  });
  port.SetHandlers({.OnComm = [&](std::string_view bytes) { received += bytes; },
                    .DeviceLost =
                        [&](const std::string& description) {
                          ++losses;
                          lossDescription = description;
                          receivedBeforeLoss = received;
                        }});
  ASSERT_FALSE(port.SetCommPort(3).Failed());
  ASSERT_FALSE(port.SetSettings({}).Failed());
  ASSERT_FALSE(port.SetPortOpen(true).Failed());
  EXPECT_EQ(resolvedPort, 3);
  EXPECT_TRUE(port.SetCommPort(4).Failed()) << "the port is open";
  QtSerialControl other([&](int) { return terminal.Path(); });
  const SerialError busy = other.SetPortOpen(true);
  EXPECT_TRUE(busy.Failed());
  EXPECT_FALSE(busy.Description.empty());
  EXPECT_FALSE(other.PortOpen());
  const std::string all = AllByteValues();
  terminal.Write(all + all);
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= 512; }));
  terminal.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return losses == 1; }));
  EXPECT_EQ(receivedBeforeLoss, all + all);
  EXPECT_FALSE(lossDescription.empty());
  EXPECT_FALSE(port.PortOpen());

  const std::clock_t cpuBefore = std::clock();  // the process's processor time
  RunEventsFor(300);
  EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.15)
      << "the event loop spins after the loss";
  EXPECT_EQ(losses, 1);

  PseudoTerminal another;
  using enum SerialParity;
  using enum SerialDataBits;
  using enum SerialStopBits;
  const SerialLineSettings lines[] = {{19200, Even, Seven, Two},
                                      {1200, Odd, Five, OneAndHalf},
                                      {4800, Mark, Eight, One},
                                      {115200, Space, Six, One}};
  for (const SerialLineSettings& line : lines) {
    SCOPED_TRACE(line.BaudRate);
    QtSerialControl opened([&](int) { return another.Path(); });
    EXPECT_FALSE(opened.SetSettings(line).Failed());
    EXPECT_FALSE(opened.SetPortOpen(true).Failed());
  }
}

}  // namespace
}  // namespace tarvel
