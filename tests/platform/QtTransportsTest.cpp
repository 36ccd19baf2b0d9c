// The equipment's and the alarm server's transports on the Qt layer: TCP sockets and serial lines.

#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sys/resource.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../../tools/ToolSupport.h"
#include "platform/EventLoopWait.h"
#include "platform/qt/QtSerialControl.h"
#include "platform/qt/QtSocketControl.h"
#include "support/AllByteValues.h"

namespace tarvel {
namespace {

using test::RunEventsFor;
using test::WaitUntil;

// A socket and what its handlers saw; the On* hooks add a test's own reaction.
struct Probe {
  explicit Probe(int64_t sendQueueLimit = QtSocketControl::DefaultSendQueueLimit,
                 int stallMs = QtSocketControl::DefaultStallMs)
      : Socket(sendQueueLimit, stallMs) {
    SocketHandlers handlers;
    handlers.ConnectionRequest = [this](int32_t id) {
      ++Requests;
      OnRequest(id);
    };
    handlers.Connect = [this] { ++Connects; };
    handlers.DataArrival = [this](std::string_view bytes) {
      Received += bytes;
      OnData();
    };
    handlers.Close = [this] {
      ++Closes;
      OnClose();
    };
    handlers.Error = [this](const std::string& text) { Errors.push_back(text); };
    handlers.SendQueueLow = [this] { ++QueueLows; };
    handlers.LinesWritten = [this](uint64_t bytes) { LinesWritten += bytes; };
    Socket.SetHandlers(handlers);
  }

  QtSocketControl Socket;
  int Requests = 0, Connects = 0, Closes = 0, QueueLows = 0;
  uint64_t LinesWritten = 0;
  std::vector<std::string> Errors;
  std::string Received;
  std::function<void(int32_t)> OnRequest = [](int32_t) {};
  std::function<void()> OnData = [] {}, OnClose = [] {};
};

// Lines go out at once, and a peer gone without a word is noticed within two minutes.
void ExpectKeepAlive(intptr_t descriptor) {
  ASSERT_NE(descriptor, -1);
  const auto option = [descriptor](int level, int name) {
    int value = -1;
    socklen_t size = sizeof(value);
    getsockopt(static_cast<int>(descriptor), level, name, &value, &size);
    return value;
  };
  EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
  EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
  EXPECT_LE(option(IPPROTO_TCP, TCP_KEEPIDLE) +
                option(IPPROTO_TCP, TCP_KEEPINTVL) * option(IPPROTO_TCP, TCP_KEEPCNT),
            120);
}

class QtSocketControlTest : public ::testing::Test {
 protected:
  // The listener listens on every address; each request is offered to `taker`.
  void ListenAndAcceptOn(Probe& taker) {
    if (listener.Socket.State() != SocketControl::Listening) {
      listener.Socket.SetLocalPort(0);
      ASSERT_FALSE(listener.Socket.Listen().Failed());
    }
    listener.OnRequest = [&taker](int32_t id) { EXPECT_FALSE(taker.Socket.Accept(id).Failed()); };
  }

  // A peer on a plain descriptor: to be read on another thread, or connected without Qt.
  int ConnectRawPeer() { return tools::ConnectOnce(listener.Socket.LocalPort()); }

  Probe listener;
  Probe data;
};

// A client on "localhost": refused, it raises one error and nothing else. Then it and the data
// socket that takes its connection keep it alive and carry every byte value; the close is reported
// once, and closing inside that handler does not enter it again; both connect again.
TEST_F(QtSocketControlTest, ConnectionCarriesEveryByteValueAndItsCloseIsReportedOnce) {
  Probe client;
  client.Socket.SetRemoteHost("localhost");
  client.Socket.SetRemotePort(tools::FreePort());
  client.Socket.Connect();
  EXPECT_TRUE(client.Errors.empty()) << "no event inside the call";
  ASSERT_TRUE(WaitUntil([&] { return !client.Errors.empty(); }));
  RunEventsFor(20);
  EXPECT_EQ(client.Errors.size(), 1u);
  EXPECT_FALSE(client.Errors[0].empty());
  EXPECT_EQ(client.Connects + client.Closes, 0);
  EXPECT_NE(client.Socket.State(), SocketControl::Connected);

  listener.Socket.SetLocalAddress("127.0.0.1");
  ListenAndAcceptOn(data);
  client.Socket.SetRemotePort(listener.Socket.LocalPort());
  int16_t stateInHandler = -1;
  data.OnClose = [&] {
    stateInHandler = data.Socket.State();
    data.Socket.Close();
  };
  const std::string all = AllByteValues();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    data.Received.clear();
    client.Received.clear();
    client.Socket.Connect();
    EXPECT_EQ(client.Connects, attempt - 1) << "no event inside the call";
    ASSERT_TRUE(WaitUntil([&] {
      return client.Connects == attempt && data.Socket.State() == SocketControl::Connected;
    }));
    ExpectKeepAlive(client.Socket.NativeDescriptor());
    ExpectKeepAlive(data.Socket.NativeDescriptor());
    client.Socket.SendData(all + all);
    data.Socket.SendData(all);
    EXPECT_TRUE(WaitUntil([&] { return data.Received == all + all && client.Received == all; }))
        << data.Received.size() << " and " << client.Received.size() << " bytes";

    client.Socket.Close();
    ASSERT_TRUE(WaitUntil([&] { return data.Closes == attempt; }));
    RunEventsFor(100);
    EXPECT_EQ(data.Closes, attempt);
    EXPECT_EQ(stateInHandler, SocketControl::Closing);
    EXPECT_EQ(data.Socket.State(), SocketControl::Closed);
  }
  EXPECT_EQ(client.Errors.size(), 1u);
  EXPECT_TRUE(data.Errors.empty());
}

// Lines handed over within one pass of the event loop, more than the limit: a reading peer gets
// them all; one that falls behind leaves more than the high-water mark unsent, then SendQueueLow
// comes once. One that stops reading is dropped at the limit or after the stall time; then, or
// when the logic ends a live connection, the unsent output comes back from the first line not sent
// whole, adding up with what was reported taken to what was offered.
TEST_F(QtSocketControlTest, OutputDropsOnlyAPeerThatStopsReading) {
  enum PeerKind { Reads, FallsBehind, StopsReading };
  const std::tuple<const char*, int64_t, int, PeerKind, size_t, std::string> rows[] = {
      {"reading peer", 512 * 1024, QtSocketControl::DefaultStallMs, Reads, 20000, ""},
      {"peer that falls behind", QtSocketControl::DefaultSendQueueLimit,
       QtSocketControl::DefaultStallMs, FallsBehind, 60000, ""},
      {"queue over its limit", 512 * 1024, QtSocketControl::DefaultStallMs, StopsReading, 640000,
       "Send queue full"},
      {"stalled peer", QtSocketControl::DefaultSendQueueLimit, 1000, StopsReading, 150000,
       "Peer took nothing for 1 s ("},
      {"handed back, then closed", QtSocketControl::DefaultSendQueueLimit,
       QtSocketControl::DefaultStallMs, StopsReading, 60000, ""},
  };
  for (const auto& [name, limit, stallMs, kind, lines, error] : rows) {
    SCOPED_TRACE(name);
    const bool reads = kind != StopsReading;
    Probe sender(limit, stallMs);
    ListenAndAcceptOn(sender);
    const int peer = ConnectRawPeer();
    ASSERT_TRUE(WaitUntil([&] { return sender.Socket.State() == SocketControl::Connected; }));
    std::atomic<size_t> got{0};
    std::atomic<bool> ended{false};
    const auto read = [&] {
      char buffer[65536];
      for (ssize_t count; (count = recv(peer, buffer, sizeof buffer, 0)) > 0;) got += count;
      ended = true;
    };
    std::thread reader;
    if (kind == Reads) reader = std::thread(read);
    std::string offered;
    for (size_t n = 0; n < lines && sender.Socket.State() == SocketControl::Connected; ++n) {
      std::string line = std::to_string(n);
      line.resize(99, ' ');
      offered += line + "\n";
      sender.Socket.SendData(line + "\n");
    }
    if (kind == FallsBehind) {
      RunEventsFor(300);  // the kernel's buffers fill, Qt holds the rest
      EXPECT_GT(sender.Socket.BytesToWrite(), SocketControl::SendHighWater);
      EXPECT_EQ(sender.QueueLows, 0);
      reader = std::thread(read);
    } else if (kind == StopsReading) {
      if (error.empty()) {
        RunEventsFor(300);
      } else {
        ASSERT_TRUE(WaitUntil([&] { return !sender.Errors.empty(); }, 20000));
        EXPECT_EQ(sender.Errors[0].rfind(error, 0), 0u) << sender.Errors[0];
      }
      EXPECT_LT(offered.size(), 64u << 20);
      const std::string unsent = sender.Socket.TakeUnsent();
      if (error.empty()) sender.Socket.Close();
      RunEventsFor(50);  // closing reports nothing more
      ASSERT_FALSE(unsent.empty());
      EXPECT_TRUE(offered.ends_with(unsent));
      EXPECT_EQ(offered[offered.size() - unsent.size() - 1], '\n') << "whole lines";
      EXPECT_EQ(sender.LinesWritten + unsent.size(), offered.size())
          << "what was not reported taken is handed back";
      reader = std::thread(read);
    }
    EXPECT_TRUE(WaitUntil([&] { return reads ? got == offered.size() : ended.load(); }));
    if (reads) {
      EXPECT_TRUE(WaitUntil([&] { return sender.LinesWritten == offered.size(); }))
          << sender.LinesWritten << " of " << offered.size() << " reported taken";
      EXPECT_EQ(sender.QueueLows, kind == FallsBehind ? 1 : 0);
    }
    RunEventsFor(20);
    EXPECT_EQ(sender.Errors.size(), error.empty() ? 0u : 1u);
    EXPECT_EQ(sender.Socket.State() == SocketControl::Connected, reads);
    EXPECT_EQ(sender.Closes, 0);
    shutdown(peer, SHUT_RDWR);
    reader.join();
    close(peer);
  }
}

// Paused, the kernel holds the peer back; resumed, all arrives in order; closed, nothing more.
TEST_F(QtSocketControlTest, ResumedInputArrivesInOrderAndNothingArrivesAfterClose) {
  ListenAndAcceptOn(data);
  QTcpSocket peer;
  peer.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(listener.Socket.LocalPort()));
  ASSERT_TRUE(WaitUntil([&] { return data.Socket.State() == SocketControl::Connected; }));
  data.Socket.SetReceivePaused(true);
  std::string sent;
  for (int n = 0; sent.size() < (24u << 20); ++n) sent += "line " + std::to_string(n) + "\n";
  peer.write(QByteArray::fromStdString(sent));
  RunEventsFor(300);
  EXPECT_EQ(data.Received, "");
  EXPECT_GT(peer.bytesToWrite(), 0) << "the peer was held back";
  data.Socket.SetReceivePaused(false);
  ASSERT_TRUE(WaitUntil([&] { return data.Received.size() == sent.size(); }, 20000));
  EXPECT_EQ(data.Received, sent);

  data.OnData = [&] { data.Socket.Close(); };
  peer.write("last words");
  peer.disconnectFromHost();
  ASSERT_TRUE(WaitUntil([&] { return data.Received.size() > sent.size(); }));
  RunEventsFor(150);
  EXPECT_EQ(data.Closes, 0);
  EXPECT_TRUE(data.Errors.empty());
  EXPECT_EQ(data.Socket.State(), SocketControl::Closed);
}

TEST_F(QtSocketControlTest, ListenerKeepsAcceptingAfterRunningOutOfDescriptors) {
  ListenAndAcceptOn(data);
  // The sanitizer opens descriptors at its first check of a type: that must have run by now.
  RunEventsFor(1);
  const int client = ConnectRawPeer();  // waits in the kernel until the event loop runs
  struct RestoredLimit {
    rlimit Original{};
    RestoredLimit() { getrlimit(RLIMIT_NOFILE, &Original); }
    ~RestoredLimit() { setrlimit(RLIMIT_NOFILE, &Original); }
  } restored;
  // The limit bounds descriptor numbers: at the lowest free number, none is to be had.
  const int lowestFree = dup(0);
  close(lowestFree);
  const rlimit tight{static_cast<rlim_t>(lowestFree), restored.Original.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  RunEventsFor(100);  // the listener fails to take the connection
  EXPECT_EQ(listener.Requests, 0);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &restored.Original), 0);
  EXPECT_TRUE(WaitUntil([&] { return listener.Requests == 1; }, 3000));
  close(client);
}

// A pseudo-terminal, not raw: the slave is the device; closing the master hangs the line up.
struct PseudoTerminal {
  PseudoTerminal() { openpty(&Master, &Slave, Name, nullptr, nullptr); }
  ~PseudoTerminal() {
    close(Master);
    close(Slave);
  }
  int Master = -1, Slave = -1;
  char Name[256] = {};
};

// The control makes the terminal raw: every byte value arrives unchanged; a hang-up is one loss
// after everything before it, the event loop idle afterwards. A held device cannot be opened
// again. Every parity, data bits and stop bits value opens.
TEST(QtSerialControlTest, EveryByteValueArrivesUnchangedAndAHangUpIsLostOnce) {
  PseudoTerminal terminal;
  int resolvedPort = 0, losses = 0;
  std::string received, receivedBeforeLoss, lossDescription;
  QtSerialControl port([&](int commPort) {
    resolvedPort = commPort;
    return std::string(terminal.Name);
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
  QtSerialControl other([&](int) { return std::string(terminal.Name); });
  const SerialError busy = other.SetPortOpen(true);
  EXPECT_TRUE(busy.Failed());
  EXPECT_FALSE(busy.Description.empty());
  EXPECT_FALSE(other.PortOpen());
  const std::string all = AllByteValues();
  ASSERT_EQ(write(terminal.Master, (all + all).data(), 512), 512);
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= 512; }));
  close(std::exchange(terminal.Master, -1));
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
    QtSerialControl opened([&](int) { return std::string(another.Name); });
    EXPECT_FALSE(opened.SetSettings(line).Failed());
    EXPECT_FALSE(opened.SetPortOpen(true).Failed());
  }
}

}  // namespace
}  // namespace tarvel
