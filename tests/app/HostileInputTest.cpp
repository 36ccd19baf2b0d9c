#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/GatewayFixture.h"

namespace tarvel {
namespace {

class HostileInputTest : public GatewayFixture {
 protected:
  // Invalid lines on a port: for each second from 12:00:00 of the day on, that many lines,
  // then ticks while the clock runs on quietly for the given seconds.
  void Flood(int16_t port, int day, int seconds, int linesPerSecond, int quietSeconds) {
    std::string lines;
    for (int i = 0; i < linesPerSecond; ++i) lines += "garbage\n";
    for (int second = 0; second < seconds + quietSeconds; ++second) {
      clock.Set(LocalTime{2017, 6, day, 12, second / 60, second % 60, 0});
      if (second < seconds) Receive(port, lines);
      gateway->TimerUpdateTimer();
    }
  }
  std::vector<std::string> Messages(const std::string& start) const {
    std::vector<std::string> found;
    for (const std::string& message : LogMessages())
      if (message.rfind(start, 0) == 0) found.push_back(message);
    return found;
  }
};

TEST_F(HostileInputTest, FloodOfRejectedLinesIsLimitedPerPortThenCounted) {
  const struct Row {
    const char* name;
    int seconds;
    int linesPerSecond;
    size_t logged;
    std::vector<std::string> counts;
  } rows[] = {// clang-format off
      {"one second of 5000 lines", 1, 5000, 20,
       {"4980 more lines rejected on port (3) since 17-06-11 12:00:00"}},
      {"70 seconds of 25 lines a second: 1000 a minute", 70, 25, 1200,
       {"500 more lines rejected on port (3) since 17-06-12 12:00:00",
        "50 more lines rejected on port (3) since 17-06-12 12:01:00"}}};
  // clang-format on
  UsePort(3, PortKind::TcpServer);
  UsePort(4, PortKind::TcpServer);
  int day = 10;  // a day, and so a log file, of each row's own
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ++day;
    Flood(3, day, row.seconds, row.linesPerSecond, 3);
    Receive(4, "XX 07-06-2017 10:20:30 other port\n");
    EXPECT_EQ(Messages("Invalid event type: ").size(), row.logged + 1);
    EXPECT_EQ(Messages("Invalid event type: other port").size(), 1u) << "ports limited apart";
    std::vector<std::string> counts;
    for (const std::string& message : LogMessages())
      if (message.find(" more lines rejected") != std::string::npos) counts.push_back(message);
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
