// The status server's limits on real loopback sockets, in this process (a short head deadline).

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/StatusRendering.h"
#include "app/qt/StatusServer.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSocketControl.h"
#include "output/AlarmServerLink.h"
#include "platform/EventLoopWait.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using test::RunEventsFor;
using test::WaitUntil;

constexpr int CloseWaitMs = 10000;  // a generous bound for a close that is due much earlier

// A client whose every read is short, so that the test can run the event loop that serves it.
class Peer : public tools::Client {
 public:
  // From `source` to the loopback address of its family.
  explicit Peer(int port, const std::string& source = "127.0.0.1")
      : Client(source.find(':') == std::string::npos ? "127.0.0.1" : "::1", port, source) {}
  // Takes what has arrived; true once the server has closed.
  bool Closed() { return WaitForClose(2ms); }
  // The next answer, whole; empty while its head or body is still coming.
  std::string Answer() {
    Closed();
    const std::string& all = Received();
    const size_t head = all.find("\r\n\r\n", taken_), length = all.find("Content-Length: ", taken_);
    if (head == std::string::npos || length == std::string::npos) return "";
    const size_t end = head + 4 + std::stoul(all.substr(length + 16));
    if (all.size() < end) return "";
    const size_t from = std::exchange(taken_, end);
    return all.substr(from, end - from);
  }
  std::string Ask(const std::string& path) {
    Send("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string answer;
    WaitUntil([&] { return !(answer = Answer()).empty() || Closed(); }, CloseWaitMs);
    return answer;
  }

 private:
  size_t taken_ = 0;
};

// A status server on a free loopback port, logging into a folder of its own.
struct StatusFixture {
  explicit StatusFixture(int headDeadlineMs, const std::string& allowedHosts = "",
                         const std::string& bindAddress = "127.0.0.1")
      : log(clock, folder.Path() + "LogFiles"),
        trace(clock, debugList, menus),
        link(
            state, clock, controls, log, trace, [] {}, [](bool) {}),
        server(StatusSources{state, {}, link, ticks}, controls, clock, log, headDeadlineMs) {
    std::filesystem::create_directory(folder.Path() + "LogFiles");
    std::string badEntry;
    state.General.StatusAllowedHosts = *HostAllowList::Parse(allowedHosts, badEntry);
    state.General.StatusBindAddress = bindAddress;
    state.General.StatusPort = tools::FreePort();
    server.Start();
  }
  int Port() const { return server.Port(); }
  std::string Log() const { return testing::PrintToString(folder.Messages()); }

  TempFolder folder;
  FakeClock clock;
  LogFile log;
  ProgramState state;
  Controls controls;
  InMemoryDebugList debugList;
  InMemoryMenuChecks menus;
  TrafficTrace trace;
  AlarmServerLink link;
  uint64_t ticks = 0;
  StatusServer server;
};

// A /healthz answer, as against a busy server's.
bool IsHealthAnswer(const std::string& answer) {
  return std::regex_search(answer, std::regex("\r\n\r\n(ok|unhealthy): "));
}

// A peer that sends nothing, and one that sends its head a byte at a time, are closed once the
// head deadline has passed since they connected; a kept-alive scraper waits for its next
// request much longer and is answered on the same connection.
TEST(StatusServerLimits, HeadMustArriveWithinTheDeadlineWhileKeptAliveScrapersStay) {
  StatusFixture status(300);
  ASSERT_NE(status.Port(), 0) << status.Log();
  Peer scraper(status.Port()), idle(status.Port()), slow(status.Port());
  EXPECT_NE(scraper.Ask("/metrics").find("HTTP/1.1 200 "), std::string::npos);
  const std::string head = "GET / HTTP/1.1\r\nX: " + std::string(8000, 'a');
  size_t sent = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        if (sent < head.size()) slow.Send(head.substr(sent++, 1));
        return idle.Closed() && slow.Closed();
      },
      CloseWaitMs))
      << "idle closed: " << idle.Closed() << ", after " << sent
      << " bytes slow closed: " << slow.Closed();
  EXPECT_FALSE(scraper.Closed());
  EXPECT_NE(scraper.Ask("/metrics").find("HTTP/1.1 200 "), std::string::npos);
}

// Of the 32 connections the last takes only GET /healthz: scrapers cannot keep health checks out.
TEST(StatusServerLimits, TheLastSlotIsKeptForHealthWhichWatchesTheTick) {
  StatusFixture status(StatusServer::DefaultHeadDeadlineMs);
  ASSERT_NE(status.Port(), 0) << status.Log();
  std::vector<std::unique_ptr<Peer>> scrapers;
  for (int n = 0; n < 40; ++n) scrapers.push_back(std::make_unique<Peer>(status.Port()));
  int answered = 0, busy = 0;
  for (auto& scraper : scrapers) {
    const std::string answer = scraper->Ask("/metrics");
    answered += answer.find("HTTP/1.1 200 ") == 0;
    busy += answer.find("HTTP/1.1 503 ") == 0;
  }
  EXPECT_EQ(answered, 31);
  EXPECT_EQ(busy, 1);  // the connection taken into the last slot, then closed
  Peer health(status.Port());
  EXPECT_TRUE(IsHealthAnswer(health.Ask("/healthz")));
  EXPECT_TRUE(IsHealthAnswer(health.Ask("/healthz?again")));
  EXPECT_NE(health.Ask("/metrics").find("HTTP/1.1 503 "), std::string::npos);

  // The tick is watched on the server's own timer: one that stopped is unhealthy at the next check.
  FakeSocketControl listener;
  listener.SetState(SocketControl::Listening);
  status.controls.WinsockOstrelConnect = &listener;
  ++status.ticks;  // one tick, then none
  RunEventsFor(static_cast<int>(HealthyTickGapMs) + 800);
  const std::string answer = Peer(status.Port()).Ask("/healthz");
  EXPECT_NE(answer.find("unhealthy: the supervision tick has not run for 5 s"), std::string::npos)
      << answer;
}

// Hosts outside the allow-list get 403 and are closed at once, holding no slot. The refusal line
// (one a minute for an address) names address and port, also of a peer that reset its connection
// before the server took it, and of IPv6, whose socket address is laid out apart.
TEST(StatusServerLimits, RefusedHostsHoldNoSlotAndAreNamedByAddressAndPort) {
  for (const std::string source : {"127.0.0.3", "::1"}) {
    SCOPED_TRACE(source);
    const bool ipv6 = source == "::1";
    if (ipv6 && !QTcpServer().listen(QHostAddress::LocalHostIPv6))
      GTEST_SKIP() << "no IPv6 loopback (::1)";
    StatusFixture status(StatusServer::DefaultHeadDeadlineMs, "127.0.0.2",
                         ipv6 ? "::1" : "127.0.0.1");
    ASSERT_NE(status.Port(), 0) << status.Log();
    const int gone = tools::ConnectFrom(ipv6 ? "::1" : "127.0.0.1", status.Port(), source);
    const std::string line =
        "Refused status connection from " + source + ":" + std::to_string(tools::LocalPort(gone));
    tools::CloseAbruptly(gone);
    ASSERT_TRUE(WaitUntil([&] { return status.folder.CountMessages(line) == 1; })) << status.Log();
    std::vector<std::unique_ptr<Peer>> refused;
    for (int n = 0; n < 40; ++n) refused.push_back(std::make_unique<Peer>(status.Port(), source));
    for (auto& peer : refused) {
      EXPECT_TRUE(WaitUntil([&] { return peer->Closed(); }, CloseWaitMs));
      EXPECT_EQ(peer->Answer().find("HTTP/1.1 403 Forbidden\r\n"), 0u);
    }
    EXPECT_EQ(status.folder.CountMessages("Refused status connection from"), 1u) << status.Log();
    if (!ipv6) {
      EXPECT_TRUE(IsHealthAnswer(Peer(status.Port(), "127.0.0.2").Ask("/healthz")));
    }
  }
}

}  // namespace
}  // namespace tarvel
