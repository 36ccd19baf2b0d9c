#include "app/GatewayFixture.h"

namespace tarvel {
namespace {

class SupervisionTest : public GatewayFixture {
 protected:
  SupervisionTest() {
    state.General.WatchDogInterval = 0;
    ConnectOstrel();
  }
};

const std::string Failure =
    "1|||Door||||TARVEL80 Connection 'Door' (4) have failed (no events within 10 s)\n";
const std::string Reminder =
    "1|||Door||||TARVEL80 Connection 'Door' (4) is still bad (cyclic 30 s reminder)\n";
const std::string Restored = "0|||Door||||TARVEL80 Connection 'Door' (4) has been restored\n";

TEST_F(SupervisionTest, FailureInTheTenthSecondRemindersUntilARestoreAndAFaultEndsOnlyItsTick) {
  using Lines = std::vector<std::pair<int, std::string>>;
  using enum PortKind;
  struct Row {
    PortKind kind;
    int32_t timeout, remindTime;
    int aliveAt;
    Lines lines;
  } rows[] = {
      // clang-format off
      {Serial, 10, 30, 0, {{10, Failure}, {40, Reminder}, {70, Reminder}, {100, Reminder}}},
      {TcpServer, 10, 0, 0, {{10, Failure}}},  // no reminders when switched off
      {TcpServer, 0, 30, 0, {}},               // no supervision when switched off
      {NotUsed, 10, 30, 0, {}},
      // The restore starts the reminder count again: a whole PollFailRemindTime after the next
      // failure.
      {Serial, 10, 30, 18,
       {{10, Failure}, {18, Restored}, {27, Failure}, {57, Reminder}, {87, Reminder}}},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    Receive(4, "\n");  // a sign of life ends the last row's failure
    Sent();
    PortEntry& port = gateway.PortSettings(4);
    port = PortEntry{};
    if (row.kind != NotUsed) UsePort(4, row.kind, "Door");
    port.PollFailTimeout = row.timeout;
    port.PollFailRemindTime = row.remindTime;
    const size_t logged = LogMessages().size();
    Lines lines;  // in which second each line went out
    for (int second = 1; second <= 100; ++second) {
      if (second == row.aliveAt) Receive(4, "\n");
      timer.Ticks(10);
      if (const std::string sent = Sent(); !sent.empty()) lines.emplace_back(second, sent);
    }
    EXPECT_EQ(lines, row.lines);
    // Each line is logged as sent; the empty line is logged as rejected.
    EXPECT_EQ(LogMessages().size() - logged, row.lines.size() + (row.aliveAt > 0 ? 1 : 0));
  }
  // A fault inside a tick ends that tick only (the event queue's fence takes it): the timer is
  // on again for the next one.
  Receive(4, "\n");
  gateway.PortSettings(4).PollFailTimeout = 1;
  timer.Ticks(9);
  clock.FailNext();  // the failure line's stamp
  EXPECT_THROW(timer.Tick(), std::runtime_error);
  EXPECT_TRUE(timer.Enabled());
}

}  // namespace
}  // namespace tarvel
