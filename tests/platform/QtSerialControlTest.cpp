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
// arrive on it, and closing the master hangs the line up.
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
  const std::string& Path() const { return path_; }
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

// A serial control on the pseudo-terminal for every COM number, and what its handlers saw.
struct Probe {
  explicit Probe(const PseudoTerminal& terminal)
      : Port([this, &terminal](int commPort) {
          resolvedPort = commPort;
          return terminal.Path();
        }) {
    SerialHandlers handlers;
    handlers.OnComm = [this](std::string_view bytes) { Received += bytes; };
    handlers.DeviceLost = [this](const std::string& description) {
      ++losses;
      lossDescription = description;
      receivedBeforeLoss = Received;
    };
    Port.SetHandlers(handlers);
  }

  QtSerialControl Port;
  int resolvedPort = 0;
  std::string Received;
  int losses = 0;
  std::string lossDescription;
  std::string receivedBeforeLoss;
};

// The terminal is not raw until the control makes it so: every byte value arrives unchanged,
// and a hang-up is one loss after everything before it, with the event loop idle afterwards.
// While one control holds the device, another cannot open it. Every parity, data bits and stop
// bits value opens a pseudo-terminal.
TEST(QtSerialControlTest, EveryByteValueArrivesUnchangedAndAHangUpIsLostOnce) {
  PseudoTerminal terminal;
  Probe probe(terminal);
  ASSERT_FALSE(probe.Port.SetCommPort(3).Failed());
  ASSERT_FALSE(probe.Port.SetSettings({}).Failed());
  ASSERT_FALSE(probe.Port.SetPortOpen(true).Failed());
  EXPECT_EQ(probe.resolvedPort, 3);
  EXPECT_TRUE(probe.Port.SetCommPort(4).Failed()) << "the port is open";
  QtSerialControl other([&terminal](int) { return terminal.Path(); });
  const SerialError busy = other.SetPortOpen(true);
  EXPECT_TRUE(busy.Failed());
  EXPECT_FALSE(busy.Description.empty());
  EXPECT_FALSE(other.PortOpen());
  const std::string all = AllByteValues();
  terminal.Write(all + all);
  ASSERT_TRUE(WaitUntil([&] { return probe.Received.size() >= 512; }));
  terminal.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return probe.losses == 1; }));
  EXPECT_EQ(probe.receivedBeforeLoss, all + all);
  EXPECT_FALSE(probe.lossDescription.empty());
  EXPECT_FALSE(probe.Port.PortOpen());

  const std::clock_t cpuBefore = std::clock();  // the process's processor time
  RunEventsFor(300);
  EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.15)
      << "the event loop spins after the loss";
  EXPECT_EQ(probe.losses, 1);

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
    Probe opened(another);
    EXPECT_FALSE(opened.Port.SetSettings(line).Failed());
    EXPECT_FALSE(opened.Port.SetPortOpen(true).Failed());
  }
}

}  // namespace
}  // namespace tarvel
