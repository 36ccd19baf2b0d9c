#include "app/GatewayFixture.h"

namespace tarvel {
namespace {

using HostileInputTest = GatewayFixture;

// Invalid lines are logged up to a limit per port; the ones held back are counted in one line
// once the port has been quiet for a while, or a minute after the first at the latest.
TEST_F(HostileInputTest, FloodOfRejectedLinesIsLimitedPerPortThenCounted) {
  const struct Row {
    int seconds;  // of lines on port 3 from 12:00:00 on, then three quiet seconds
    int linesPerSecond;
    size_t logged;
    std::vector<std::string> counts;
  } rows[] = {
      {1, 5000, 20, {"4980 more lines rejected on port (3) since 17-06-11 12:00:00"}},
      {70,
       25,
       1200,  // 1000 a minute
       {"500 more lines rejected on port (3) since 17-06-12 12:00:00",
        "50 more lines rejected on port (3) since 17-06-12 12:01:00"}},
  };
  UsePort(3, PortKind::TcpServer);
  UsePort(4, PortKind::TcpServer);
  int day = 10;  // a day of each row's own
  for (const Row& row : rows) {
    SCOPED_TRACE(row.seconds);
    ++day;
    const auto before = static_cast<long>(LogMessages().size());
    std::string lines;
    for (int i = 0; i < row.linesPerSecond; ++i) lines += "garbage\n";
    for (int second = 0; second < row.seconds + 3; ++second) {
      clock.Set(2017, 6, day, 12, second / 60, second % 60);
      if (second < row.seconds) Receive(3, lines);
      timer.Tick();  // through the gateway's own timer handler
    }
    Receive(4, "XX 07-06-2017 10:20:30 other port\n");
    const std::vector<std::string> messages = LogMessages();
    size_t invalid = 0, otherPort = 0;  // ports are limited apart
    std::vector<std::string> counts;
    for (auto m = messages.begin() + before; m != messages.end(); ++m) {
      if (m->starts_with("Invalid event type: other port"))
        ++otherPort;
      else if (m->starts_with("Invalid event type: "))
        ++invalid;
      else
        counts.push_back(*m);
    }
    EXPECT_EQ(invalid, row.logged);
    EXPECT_EQ(otherPort, 1u);
    EXPECT_EQ(counts, row.counts);
  }
}

TEST_F(HostileInputTest, PeerWithoutAReadableAddressIsLoggedAsUnknown) {
  UsePort(2, PortKind::TcpServer);
  listeners[2]->Listen();
  listeners[2]->RequestConnection("10.0.0.1", 4000);
  listeners[2]->RequestConnection("", 0);  // refused: the port is connected
  ConnectOstrel("", 0);
  state.General.OstrelAllowedHosts = Hosts("10.0.0.0/8");
  ConnectOstrel("", 0);
  const std::vector<std::string> expected = {
      "Connection (2) accepted from 10.0.0.1:4000", "Connection (2) refused from unknown",
      "Accepted Ostrel connection from unknown", "Refused Ostrel connection from unknown"};
  EXPECT_EQ(LogMessages(), expected);
}

}  // namespace
}  // namespace tarvel
