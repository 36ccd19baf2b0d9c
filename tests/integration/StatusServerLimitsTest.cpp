// The status server's limits on real loopback sockets, in this process: the head deadline
// (short here), the slot kept for /healthz, refused hosts, and the refusal line.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QTcpServer>
#include <cstring>
#include <filesystem>
#include <memory>
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

using test::RunEventsFor;
using test::WaitUntil;

constexpr int CloseWaitMs = 10000;  // a generous bound for a close that is due much earlier

// The log, in a folder of its own, read back whole.
class KeptLog : public LogFile {
 public:
  explicit KeptLog(const Clock& clock) : LogFile(clock, "") {
    std::filesystem::create_directory(folder_.Path() + "LogFiles");
    SetFolder(folder_.Path() + "LogFiles");
  }
  size_t Count(const std::string& text) const {
    const std::string all = All();
    size_t count = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++count;
    return count;
  }
  std::string All() const {
    std::string all;
    for (const auto& file : std::filesystem::directory_iterator(folder_.Path() + "LogFiles"))
      all += tools::ReadWholeFile(file.path().string());
    return all;
  }

 private:
  TempFolder folder_;
};

// The socket address of `address`, IPv4 or IPv6, at `port`.
socklen_t SocketAddress(const QHostAddress& address, int port, sockaddr_storage& out) {
  out = {};
  if (address.protocol() == QAbstractSocket::IPv6Protocol) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(out);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(static_cast<uint16_t>(port));
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&in6.sin6_addr, bytes.c, sizeof in6.sin6_addr);
    return sizeof in6;
  }
  auto& in = reinterpret_cast<sockaddr_in&>(out);
  in.sin_family = AF_INET;
  in.sin_port = htons(static_cast<uint16_t>(port));
  in.sin_addr.s_addr = htonl(address.toIPv4Address());
  return sizeof in;
}

// A client socket read without blocking, while the test runs the event loop.
class Peer {
 public:
  // Connects from `source` to the loopback address of its family (127.0.0.1 or ::1) at port;
  // the kernel completes the handshake on its own.
  Peer(int port, const std::string& source) {
    const QHostAddress from(QString::fromStdString(source));
    const bool ipv6 = from.protocol() == QAbstractSocket::IPv6Protocol;
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage local{}, remote{};
    const socklen_t localSize = SocketAddress(from, 0, local);
    const socklen_t remoteSize =
        SocketAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, port, remote);
    connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), localSize) == 0 &&
                 ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), remoteSize) == 0;
  }
  ~Peer() {
    if (fd_ >= 0) ::close(fd_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool Connected() const { return connected_; }
  int LocalPort() const {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    return local.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(local).sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in&>(local).sin_port);
  }
  void Send(const std::string& text) const {
    [[maybe_unused]] const ssize_t sent = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // Closes with a reset instead of a FIN.
  void Reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd_);
    fd_ = -1;
  }
  // Takes what has arrived; true once the server has closed.
  bool Closed() {
    char buffer[4096];
    for (;;) {
      const ssize_t count = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (count > 0) {
        received_.append(buffer, static_cast<size_t>(count));
        continue;
      }
      if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) closed_ = true;
      return closed_;
    }
  }
  // The answer taken so far, whole; empty while its head or body is still coming.
  std::string Answer() {
    Closed();
    const size_t head = received_.find("\r\n\r\n");
    const size_t length = received_.find("Content-Length: ");
    if (head == std::string::npos || length == std::string::npos) return "";
    const size_t end = head + 4 + std::stoul(received_.substr(length + 16));
    if (received_.size() < end) return "";
    std::string answer = received_.substr(0, end);
    received_.erase(0, end);
    return answer;
  }
  // Sends a request and runs the event loop until its answer is whole or the connection closed.
  std::string Ask(const std::string& path) {
    Send("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string answer;
    WaitUntil([&] { return !(answer = Answer()).empty() || closed_; }, CloseWaitMs);
    return answer;
  }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

int FreePort(const QHostAddress& address) {
  QTcpServer probe;
  return probe.listen(address) ? probe.serverPort() : 0;
}

// A status server on a free loopback port, with the given head deadline and allow-list.
struct StatusFixture {
  explicit StatusFixture(int headDeadlineMs, const std::string& allowedHosts = "",
                         const std::string& bindAddress = "127.0.0.1")
      : log(clock),
        trace(clock, debugList, menus),
        link(
            state, clock, controls, log, trace, [] {}, [](bool) {}) {
    std::string badEntry;
    state.General.StatusAllowedHosts = *HostAllowList::Parse(allowedHosts, badEntry);
    state.General.StatusBindAddress = bindAddress;
    state.General.StatusPort = FreePort(QHostAddress(QString::fromStdString(bindAddress)));
    server = std::make_unique<StatusServer>(StatusSources{state, {}, link, ticks}, controls, clock,
                                            log, headDeadlineMs);
    server->Start();
  }
  int Port() const { return server->Port(); }

  FakeClock clock;
  KeptLog log;
  ProgramState state;
  Controls controls;
  InMemoryDebugList debugList;
  InMemoryMenuChecks menus;
  TrafficTrace trace;
  AlarmServerLink link;
  uint64_t ticks = 0;
  std::unique_ptr<StatusServer> server;
};

bool IsHealthAnswer(const std::string& answer) {
  return answer.find("\r\n\r\nok: ") != std::string::npos ||
         answer.find("\r\n\r\nunhealthy: ") != std::string::npos;
}

// A peer that sends nothing, and one that sends its head a byte at a time, are closed once the
// head deadline has passed since they connected; a kept-alive scraper waits for its next
// request much longer and is answered on the same connection.
TEST(StatusServerLimits, HeadMustArriveWithinTheDeadlineWhileKeptAliveScrapersStay) {
  StatusFixture status(300);
  ASSERT_NE(status.Port(), 0) << status.log.All();
  Peer scraper(status.Port(), "127.0.0.1"), idle(status.Port(), "127.0.0.1"),
      slow(status.Port(), "127.0.0.1");
  EXPECT_NE(scraper.Ask("/metrics").find("HTTP/1.1 200 "), std::string::npos);
  const std::string head = "GET / HTTP/1.1\r\nX: " + std::string(8000, 'a');
  size_t sent = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        if (sent < head.size()) slow.Send(head.substr(sent++, 1));
        return idle.Closed() && slow.Closed();
      },
      CloseWaitMs))
      << "idle closed: " << idle.Closed() << ", slow closed: " << slow.Closed() << " after " << sent
      << " bytes";
  EXPECT_FALSE(scraper.Closed());
  EXPECT_NE(scraper.Ask("/metrics").find("HTTP/1.1 200 "), std::string::npos);
}

// Of the 32 connections, 31 take any request and the last only GET /healthz: kept-alive
// scrapers on every slot cannot keep health checks out.
TEST(StatusServerLimits, TheLastSlotIsKeptForHealth) {
  StatusFixture status(StatusServer::DefaultHeadDeadlineMs);
  ASSERT_NE(status.Port(), 0) << status.log.All();
  std::vector<std::unique_ptr<Peer>> scrapers;
  for (int n = 0; n < 40; ++n)
    scrapers.push_back(std::make_unique<Peer>(status.Port(), "127.0.0.1"));
  int answered = 0, busy = 0;
  for (auto& scraper : scrapers) {
    const std::string answer = scraper->Ask("/metrics");
    answered += answer.find("HTTP/1.1 200 ") == 0;
    busy += answer.find("HTTP/1.1 503 ") == 0;
  }
  EXPECT_EQ(answered, 31);
  EXPECT_EQ(busy, 1);  // the connection taken into the last slot, then closed
  Peer health(status.Port(), "127.0.0.1");
  const std::string answer = health.Ask("/healthz");
  EXPECT_TRUE(IsHealthAnswer(answer)) << answer;
  EXPECT_TRUE(IsHealthAnswer(health.Ask("/healthz?again")));
  EXPECT_NE(health.Ask("/metrics").find("HTTP/1.1 503 "), std::string::npos);
}

// Connections from a host outside the allow-list get 403 and are closed at once, holding no
// slot; the refusal names the peer's address and port, also for a peer that has reset its
// connection before the server took it.
TEST(StatusServerLimits, RefusedHostsHoldNoSlotAndAreNamedByAddress) {
  StatusFixture status(StatusServer::DefaultHeadDeadlineMs, "127.0.0.2");
  ASSERT_NE(status.Port(), 0) << status.log.All();
  std::vector<std::unique_ptr<Peer>> refused;
  for (int n = 0; n < 40; ++n)
    refused.push_back(std::make_unique<Peer>(status.Port(), "127.0.0.3"));
  Peer gone(status.Port(), "127.0.0.4");
  const int gonePort = gone.LocalPort();
  gone.Reset();
  ASSERT_TRUE(WaitUntil([&] { return status.log.Count("Refused status connection from") >= 1; }))
      << status.log.All();
  RunEventsFor(100);  // the other refused connections are taken too
  Peer health(status.Port(), "127.0.0.2");
  EXPECT_TRUE(IsHealthAnswer(health.Ask("/healthz")));
  for (auto& peer : refused) {
    EXPECT_TRUE(WaitUntil([&] { return peer->Closed(); }, CloseWaitMs));
    EXPECT_EQ(peer->Answer().find("HTTP/1.1 403 Forbidden\r\n"), 0u);
  }
  EXPECT_EQ(status.log.Count(
                "Refused status connection from 127.0.0.4:" + std::to_string(gonePort) + "\r\n"),
            1u)
      << status.log.All();
  EXPECT_EQ(status.log.Count("Refused status connection from 127.0.0.3:"), 1u);
}

// An IPv6 peer is named by its own port too: its socket address is laid out apart from IPv4's.
TEST(StatusServerLimits, RefusedIPv6PeerIsNamedByAddressAndPort) {
  if (FreePort(QHostAddress::LocalHostIPv6) == 0) GTEST_SKIP() << "no IPv6 loopback (::1)";
  StatusFixture status(StatusServer::DefaultHeadDeadlineMs, "127.0.0.2", "::1");
  ASSERT_NE(status.Port(), 0) << status.log.All();
  Peer refused(status.Port(), "::1");
  ASSERT_TRUE(refused.Connected());
  const std::string line =
      "Refused status connection from ::1:" + std::to_string(refused.LocalPort()) + "\r\n";
  EXPECT_TRUE(WaitUntil([&] { return refused.Closed(); }, CloseWaitMs));
  EXPECT_EQ(refused.Answer().find("HTTP/1.1 403 Forbidden\r\n"), 0u);
  EXPECT_EQ(status.log.Count(line), 1u) << status.log.All();
}

// The tick is watched on the server's own timer, not only when a request comes: a tick that ran
// and then stopped shows as unhealthy at the next health check, however long ago it stopped.
TEST(StatusServerLimits, ATickThatStoppedIsUnhealthyAtTheNextHealthCheck) {
  StatusFixture status(StatusServer::DefaultHeadDeadlineMs);
  FakeSocketControl listener;
  listener.SetState(SocketControl::Listening);
  status.controls.WinsockOstrelConnect = &listener;
  ++status.ticks;  // one tick, then none
  RunEventsFor(static_cast<int>(HealthyTickGapMs) + 800);
  Peer health(status.Port(), "127.0.0.1");
  const std::string answer = health.Ask("/healthz");
  EXPECT_NE(answer.find("unhealthy: the supervision tick has not run for 5 s"), std::string::npos)
      << answer;
}

}  // namespace
}  // namespace tarvel
