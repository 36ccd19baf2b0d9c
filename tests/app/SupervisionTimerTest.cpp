#include <stdexcept>
#include <string>
#include <vector>

#include "app/GatewayFixture.h"

namespace tarvel {
namespace {

class SupervisionTest : public GatewayFixture {
 protected:
  SupervisionTest() {
    state.General.WatchDogInterval = 0;
    ConnectOstrel();
  }
  // Runs whole seconds and notes in which second each line went out.
  std::vector<std::pair<int, std::string>> RunSeconds(int seconds) {
    std::vector<std::pair<int, std::string>> lines;
    for (int second = 1; second <= seconds; ++second) {
      timer.Ticks(10);
      std::string sent = Sent();
      for (size_t end; (end = sent.find('\n')) != std::string::npos; sent.erase(0, end + 1))
        lines.emplace_back(second, sent.substr(0, end + 1));
    }
    return lines;
  }
};

const std::string Failure =
    "1|||Door||||TARVEL80 Connection 'Door' (4) have failed (no events within 10 s)\n";
const std::string Reminder =
    "1|||Door||||TARVEL80 Connection 'Door' (4) is still bad (cyclic 30 s reminder)\n";

TEST_F(SupervisionTest, FailureInTheTenthSecondThenCyclicReminders) {
  using Lines = std::vector<std::pair<int, std::string>>;
  struct Row {
    PortKind kind;
    int32_t remindTime;
    Lines lines;
  } rows[] = {
      {PortKind::Serial, 30, {{10, Failure}, {40, Reminder}, {70, Reminder}, {100, Reminder}}},
      {PortKind::TcpServer, 0, {{10, Failure}}},  // no reminders when switched off
      {PortKind::NotUsed, 30, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    Receive(4, "\n");  // a sign of life ends the last row's failure
    Sent();
    PortEntry& port = gateway.PortSettings(4);
    port = PortEntry{};
    if (row.kind != PortKind::NotUsed) UsePort(4, row.kind, "Door");
    port.PollFailTimeout = 10;
    port.PollFailRemindTime = row.remindTime;
    const size_t logged = LogMessages().size();
    EXPECT_EQ(RunSeconds(100), row.lines);
    EXPECT_EQ(LogMessages().size() - logged, row.lines.size());  // each line is logged as sent
  }
  EXPECT_TRUE(timer.Enabled());
}

// A fault inside a tick ends that tick only (the event queue's fence takes it): the timer is
// on again for the next one.
TEST_F(SupervisionTest, FaultEndsOnlyItsTick) {
  UsePort(4, PortKind::Serial, "Door");
  gateway.PortSettings(4).PollFailTimeout = 1;
  timer.Ticks(9);
  clock.FailNextReading();  // the failure line's stamp
  EXPECT_THROW(timer.Tick(), std::runtime_error);
  EXPECT_TRUE(timer.Enabled());
}

}  // namespace
}  // namespace tarvel
