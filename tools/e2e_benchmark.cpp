// End-to-end figures of the gateway over loopback, beside a direct connection and a socat relay
// (with TCP_NODELAY on both of its sockets, as the gateway has) carrying the same stream of
// 100-byte TARVEL80 single-line messages:
//   - lines per second at full speed, and the relay's CPU time per line meanwhile,
//   - latency per line (median, 99th percentile) at a steady rate, and what each relay adds to
//     the direct connection's,
//   - the gateway's CPU use while idle with 8 ports, its peak resident memory during the
//     full-speed run, and its time from start to listening.
// Run it from a Release build (tools/e2e_benchmark.sh does both). Needs socat on the PATH.
//
//   e2e_benchmark [--lines N] [--rate LINES_PER_S] [--seconds S] [--idle-seconds S]
//                 [--gateway PATH] [--repeats N] [--ports N] [--status-repeats N]
//                 [--placement both|pinned|unpinned]
//
// --repeats N: N rounds of direct, socat and gateway (socat first in odd rounds, the gateway in
// even ones); the ratios to socat per round, then their median and spread.
//
// Pinned rounds: the relay under test (socat, the N socat relays or the gateway) runs on core 1
// and the benchmark's senders and receivers on core 0 (where this process may use both; not
// with --status-repeats, which compares the gateway with itself). Unpinned rounds leave the
// placement to the scheduler, as on a machine in service. --placement both (the default) takes
// them in turn: where the scheduler puts the relay moved a round's latency by some 20 us and the
// CPU per line with eight ports by half, so a figure must hold both ways.
//
// --ports N (2..8): instead, N streams at full speed at once: N socat relays beside one gateway
// with N TCP server ports, both carrying the same lines; compares the CPU time (user + system,
// from /proc) per line of the gateway with that of the N socat processes together, and gives
// the gateway's peak resident memory. With --repeats, per round and as median and spread.
//
// --status-repeats N: instead, N rounds of the gateway without and with its status server
// (StatusPort set, /metrics scraped 10 times a second and /status.json read once a second, as
// a Prometheus scraper and an open status page do, each on one kept-alive connection), in
// alternating order, each round beside a direct connection;
// prints the ratios with-status/without per round and their spread.
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

#include "ToolSupport.h"

namespace tarvel::tools {
namespace {

constexpr size_t LineLength = 100;  // CR LF included
constexpr size_t SequenceDigits = 12;
constexpr size_t BlockLines = 1000;  // lines per write at full speed

struct Options {
  uint64_t fullSpeedLines = 3'000'000;
  uint64_t rate = 10'000;
  double paceSeconds = 5;
  int idleSeconds = 30;
  const char* gateway = nullptr;
  int statusRepeats = 0;
  int repeats = 1;
  int ports = 1;
  bool pinned = false;  // relays on core 1, the benchmark's threads on core 0
  std::string placement = "both";
};

// The command line of a relay, on core 1 when pinned.
std::vector<std::string> RelayCommand(const Options& options, std::vector<std::string> words) {
  if (options.pinned) words.insert(words.begin(), {"taskset", "-c", "1"});
  return words;
}

// The cores this process was started with.
cpu_set_t StartCores() {
  static const cpu_set_t cores = [] {
    cpu_set_t start;
    CPU_ZERO(&start);
    sched_getaffinity(0, sizeof start, &start);
    return start;
  }();
  return cores;
}

// Pins the calling thread, and the threads it starts afterwards, to core 0, when this process
// may run on cores 0 and 1 (a container's CPU set may hold others); false when it may not.
bool PinToFirstCore() {
  const cpu_set_t start = StartCores();
  if (!CPU_ISSET(0, &start) || !CPU_ISSET(1, &start)) return false;
  cpu_set_t cores;
  CPU_ZERO(&cores);
  CPU_SET(0, &cores);
  return sched_setaffinity(0, sizeof cores, &cores) == 0;
}

// Lets the scheduler place everything again.
void Unpin() {
  const cpu_set_t start = StartCores();
  sched_setaffinity(0, sizeof start, &start);
}

// --placement both: pinned and unpinned rounds in turn; a figure met only pinned is not met.
bool PinnedRound(const Options& options, int round) {
  if (options.placement == "unpinned") return false;
  if (options.placement == "pinned") return true;
  return round % 2 == 0;
}

// Sets up a round's placement; false when pinning was asked for and is not possible here.
bool PlaceRound(Options& options, int round) {
  options.pinned = PinnedRound(options, round) && PinToFirstCore();
  if (!options.pinned) Unpin();
  return options.pinned == PinnedRound(options, round);
}

// "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open ...... seq=000000000042" CR LF:
// a valid single-line message, 100 bytes, whose line ends in its sequence number (so the
// number ends the gateway's output line too).
std::string Message(uint64_t sequence) {
  std::string line = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open ";
  char number[32];
  std::snprintf(number, sizeof number, " seq=%012llu\r\n",
                static_cast<unsigned long long>(sequence));
  line.append(LineLength - line.size() - std::strlen(number), '.');
  return line + number;
}

// The sequence number that ends a line (CR dropped); nullopt when it ends otherwise.
std::optional<uint64_t> TrailingSequence(const std::string& line) {
  size_t end = line.size();
  if (end > 0 && line[end - 1] == '\r') --end;
  if (end < SequenceDigits) return std::nullopt;
  uint64_t value = 0;
  for (size_t i = end - SequenceDigits; i < end; ++i) {
    if (line[i] < '0' || line[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(line[i] - '0');
  }
  return value;
}

struct Stream {
  int send = -1;     // the equipment's end
  int receive = -1;  // the alarm server's (or the plain receiver's) end
};

struct Figures {
  double linesPerSecond = 0;
  double medianUs = 0;
  double p99Us = 0;
  uint64_t paced = 0;
  uint64_t pacedReceived = 0;
  double cpuUsPerLine = 0;  // the relay's CPU time (user + system) over the full-speed phase
};

// Reads the stream: counts lines of the full-speed phase, then stamps each paced line's
// arrival by its sequence number.
class Receiver {
 public:
  Receiver(int fd, uint64_t fullSpeedLines, uint64_t pacedLines)
      : fd_(fd), fullSpeedLines_(fullSpeedLines), arrivals_(pacedLines, 0) {}

  void Run() {
    std::vector<char> buffer(1 << 18);
    for (;;) {
      pollfd waiting{fd_, POLLIN, 0};
      if (stop_.load() || poll(&waiting, 1, 100) < 0) return;
      if (waiting.revents == 0) continue;
      const ssize_t count = recv(fd_, buffer.data(), buffer.size(), 0);
      if (count <= 0) return;
      Take(buffer.data(), static_cast<size_t>(count), NowNs());
    }
  }
  void Stop() { stop_ = true; }
  int64_t FullSpeedDoneNs() const { return fullSpeedDoneNs_.load(); }
  uint64_t PacedReceived() const { return pacedReceived_.load(); }
  const std::vector<int64_t>& Arrivals() const { return arrivals_; }

 private:
  void Take(const char* data, size_t size, int64_t now) {
    const char* end = data + size;
    while (data < end) {
      const char* lineFeed = static_cast<const char*>(std::memchr(data, '\n', end - data));
      const bool paced = lines_ >= fullSpeedLines_;
      if (paced) line_.append(data, lineFeed == nullptr ? end : lineFeed);
      if (lineFeed == nullptr) return;
      data = lineFeed + 1;
      if (paced) Stamp(now);
      if (++lines_ == fullSpeedLines_) fullSpeedDoneNs_ = now;
    }
  }
  void Stamp(int64_t now) {
    const auto sequence = TrailingSequence(line_);
    line_.clear();
    if (!sequence || *sequence >= arrivals_.size() || arrivals_[*sequence] != 0) return;
    arrivals_[*sequence] = now;
    ++pacedReceived_;
  }

  int fd_;
  uint64_t fullSpeedLines_;
  uint64_t lines_ = 0;
  std::string line_;
  std::vector<int64_t> arrivals_;
  std::atomic<int64_t> fullSpeedDoneNs_{0};
  std::atomic<uint64_t> pacedReceived_{0};
  std::atomic<bool> stop_{false};
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  while (!condition()) {
    if (SteadyClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                   values.end());
  return values[index];
}

// The full-speed phase, then the paced phase, on one connection (socat serves only one). The
// relay's CPU time is read over the full-speed phase, when it has one (not the direct path).
Figures Measure(const Stream& stream, const Options& options, pid_t relay = 0) {
  const uint64_t paced = static_cast<uint64_t>(options.rate * options.paceSeconds);
  Receiver receiver(stream.receive, options.fullSpeedLines, paced);
  std::thread reading([&] { receiver.Run(); });
  Figures figures;
  figures.paced = paced;

  std::string block;
  for (uint64_t i = 0; i < BlockLines; ++i) block += Message(i + 1'000'000'000);
  const int64_t ticksBefore = relay > 0 ? CpuTicks(relay) : 0;
  const int64_t start = NowNs();
  for (uint64_t sent = 0; sent < options.fullSpeedLines; sent += BlockLines) {
    const size_t lines = std::min<uint64_t>(BlockLines, options.fullSpeedLines - sent);
    if (!WriteAll(stream.send, std::string_view(block.data(), lines * LineLength))) break;
  }
  if (WaitFor([&] { return receiver.FullSpeedDoneNs() != 0; }, std::chrono::seconds(60))) {
    figures.linesPerSecond = options.fullSpeedLines * 1e9 / (receiver.FullSpeedDoneNs() - start);
    if (relay > 0) {
      figures.cpuUsPerLine = static_cast<double>(CpuTicks(relay) - ticksBefore) /
                             sysconf(_SC_CLK_TCK) * 1e6 / options.fullSpeedLines;
    }
  }

  std::vector<std::string> lines;
  for (uint64_t i = 0; i < paced; ++i) lines.push_back(Message(i));
  std::vector<int64_t> sentNs(paced, 0);
  const int64_t paceStart = NowNs() + 10'000'000;
  for (uint64_t i = 0; i < paced; ++i) {
    const int64_t due = paceStart + static_cast<int64_t>(i * 1e9 / options.rate);
    const timespec until{static_cast<time_t>(due / 1'000'000'000), due % 1'000'000'000};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    sentNs[i] = NowNs();
    if (!WriteAll(stream.send, lines[i])) break;
  }
  WaitFor([&] { return receiver.PacedReceived() == paced; }, std::chrono::seconds(10));
  receiver.Stop();
  reading.join();

  std::vector<double> latencies;
  for (uint64_t i = 0; i < paced; ++i) {
    const int64_t arrived = receiver.Arrivals()[i];
    if (arrived != 0) latencies.push_back((arrived - sentNs[i]) / 1000.0);
  }
  figures.pacedReceived = latencies.size();
  figures.medianUs = Percentile(latencies, 0.5);
  figures.p99Us = Percentile(latencies, 0.99);
  return figures;
}

// The stream sent to `sendPort` and received on `listener` (directly, or through a relay).
Figures MeasureBetween(const Options& options, int sendPort, int listener, pid_t relay = 0) {
  Stream stream;
  stream.send = ConnectWithin(sendPort, std::chrono::seconds(5));
  stream.receive = AcceptWithin(listener, std::chrono::seconds(5));
  Figures figures;
  if (stream.send < 0 || stream.receive < 0) {
    std::fprintf(stderr, "nothing relayed to port %d (is socat installed?)\n", sendPort);
  } else {
    SetNoDelay(stream.send);
    figures = Measure(stream, options, relay);
  }
  close(stream.send);
  close(stream.receive);
  close(listener);
  return figures;
}

Figures MeasureDirect(const Options& options) {
  const int listener = ListenLoopback(0);
  return MeasureBetween(options, LocalPort(listener), listener);
}

// socat relaying what comes to relayPort on to targetPort, with TCP_NODELAY on both of its
// sockets as the gateway has on its own.
std::unique_ptr<ChildProcess> StartSocat(const Options& options, int relayPort, int targetPort,
                                         const std::string& outputPath) {
  return std::make_unique<ChildProcess>(
      RelayCommand(options,
                   {"socat", "TCP-LISTEN:" + std::to_string(relayPort) + ",reuseaddr,nodelay",
                    "TCP:127.0.0.1:" + std::to_string(targetPort) + ",nodelay"}),
      outputPath);
}

Figures MeasureSocat(const Options& options, TempFolder& folder) {
  const int listener = ListenLoopback(0);
  const int relayPort = FreePort();
  const auto socat =
      StartSocat(options, relayPort, LocalPort(listener), folder.Path() + "socat.txt");
  return MeasureBetween(options, relayPort, listener, socat->Pid());
}

struct GatewayRun {
  std::unique_ptr<TempFolder> folder;
  std::unique_ptr<ChildProcess> process;
  int ostrelPort = 0;
};

GatewayRun StartGateway(const Options& options, const std::string& ini, int ostrelPort) {
  GatewayRun run;
  run.folder = std::make_unique<TempFolder>("e2e-benchmark");
  run.folder->Write("TARVEL80Import.ini", ini);
  run.ostrelPort = ostrelPort;
  run.process = std::make_unique<ChildProcess>(
      RelayCommand(options, {GatewayBesideTools(options.gateway), "--headless", "--dir",
                             run.folder->Path()}),
      run.folder->Path() + "output.txt");
  return run;
}

std::string GeneralSection(int ostrelPort, bool watchDog) {
  return "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
         (watchDog ? "\nWatchDogTagName=WD\nWatchDogInterval=30" : "") +
         "\nReconnectInterval=120\nBufferIfOstrelNotConnected=1\n";
}

std::string PortSection(int port, const std::string& type, const std::string& address) {
  return "[TARVEL80_Port_" + std::to_string(port) + "]\nDescription=Bench " + std::to_string(port) +
         "\nPortType=" + type + "\nPollFailTimeout=300\n" +
         (type == "TCPS" ? "ListenPort=" : "RemoteAddress=127.0.0.1:") + address + "\n";
}

// An HTTP client on one kept-alive connection, as a Prometheus scraper and a browser keep
// theirs: each GET is read to the end of its body; a closed connection is opened again.
class HttpClient {
 public:
  explicit HttpClient(int port) : port_(port) {}
  ~HttpClient() { Close(); }

  bool Get(const std::string& path) {
    if (fd_ < 0) fd_ = ConnectWithin(port_, std::chrono::seconds(1));
    if (fd_ < 0) return false;
    if (!WriteAll(fd_, "GET " + path + " HTTP/1.1\r\nHost: bench\r\n\r\n")) return Close();
    std::string reply;
    char buffer[16384];
    for (;;) {
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, 2000) <= 0) return Close();
      const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) return Close();
      reply.append(buffer, static_cast<size_t>(count));
      const size_t head = reply.find("\r\n\r\n");
      const size_t length = reply.find("Content-Length: ");
      if (head != std::string::npos && length != std::string::npos &&
          reply.size() >= head + 4 + std::stoul(reply.substr(length + 16)))
        return reply.rfind("HTTP/1.1 200", 0) == 0;
    }
  }

 private:
  bool Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }

  int port_;
  int fd_ = -1;
};

// Reads the status server as a Prometheus scraper (10/s) and an open status page (1/s) do,
// each on its own kept-alive connection.
class StatusReader {
 public:
  explicit StatusReader(int port)
      : thread_([this, port] {
          HttpClient scraper(port), page(port);
          for (uint64_t round = 0; !stop_.load(); ++round) {
            const int64_t due = NowNs() + 100'000'000;
            ok_ += scraper.Get("/metrics");
            if (round % 10 == 0) ok_ += page.Get("/status.json");
            const timespec until{static_cast<time_t>(due / 1'000'000'000), due % 1'000'000'000};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
          }
        }) {}
  ~StatusReader() {
    stop_ = true;
    thread_.join();
  }
  uint64_t Answered() const { return ok_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> ok_{0};
  std::thread thread_;
};

Figures MeasureGateway(const Options& options, double& peakRssMb, bool withStatus = false) {
  const int ostrelPort = FreePort();
  const int inputPort = FreePort();
  const int statusPort = FreePort();
  GatewayRun run =
      StartGateway(options,
                   GeneralSection(ostrelPort, false) +
                       (withStatus ? "StatusPort=" + std::to_string(statusPort) + "\n" : "") +
                       PortSection(0, "TCPS", std::to_string(inputPort)),
                   ostrelPort);
  Stream stream;
  stream.receive = ConnectWithin(ostrelPort, std::chrono::seconds(10));
  WaitFor([&] { return LogHolds(run.folder->Path(), "Accepted Ostrel connection"); },
          std::chrono::seconds(5));
  stream.send = ConnectWithin(inputPort, std::chrono::seconds(5));
  WaitFor([&] { return LogHolds(run.folder->Path(), "Connection (0) accepted"); },
          std::chrono::seconds(5));
  if (stream.send < 0 || stream.receive < 0) {
    std::fprintf(stderr, "the gateway did not start (see %s)\n", run.folder->Path().c_str());
    run.folder->Keep();
    return {};
  }
  SetNoDelay(stream.send);
  std::unique_ptr<StatusReader> reader;
  if (withStatus) reader = std::make_unique<StatusReader>(statusPort);
  const Figures figures = Measure(stream, options, run.process->Pid());
  if (reader && reader->Answered() == 0) std::fprintf(stderr, "the status server did not answer\n");
  reader.reset();
  peakRssMb = ProcStatusKb(run.process->Pid(), "VmHWM") / 1024.0;
  close(stream.send);
  close(stream.receive);
  return figures;
}

// Percent of one core over the span, with 4 TCP server and 4 TCP client ports, every port and
// the alarm server connected, and nothing sent.
double MeasureIdleCpu(const Options& options) {
  const int ostrelPort = FreePort();
  std::string ini = GeneralSection(ostrelPort, true);
  std::vector<int> serverPorts, listeners;
  for (int port = 0; port < 4; ++port) {
    serverPorts.push_back(FreePort());
    ini += PortSection(port, "TCPS", std::to_string(serverPorts.back()));
  }
  for (int port = 4; port < 8; ++port) {
    listeners.push_back(ListenLoopback(0));
    ini += PortSection(port, "TCPC", std::to_string(LocalPort(listeners.back())));
  }
  GatewayRun run = StartGateway(options, ini, ostrelPort);
  std::vector<int> peers{ConnectWithin(ostrelPort, std::chrono::seconds(10))};
  for (int port : serverPorts) peers.push_back(ConnectWithin(port, std::chrono::seconds(5)));
  for (int listener : listeners) peers.push_back(AcceptWithin(listener, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const pid_t pid = run.process->Pid();
  const int64_t ticksBefore = CpuTicks(pid);
  const int64_t startNs = NowNs();
  std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
  const double seconds = (NowNs() - startNs) / 1e9;
  const double cpuSeconds = static_cast<double>(CpuTicks(pid) - ticksBefore) / sysconf(_SC_CLK_TCK);
  for (int fd : peers) close(fd);
  for (int fd : listeners) close(fd);
  return 100.0 * cpuSeconds / seconds;
}

// Milliseconds from the spawn to the first accepted connection on the alarm-server port.
double MeasureStartMs(Options options) {
  options.pinned = false;  // the span holds the gateway's own start only, not taskset's
  const int ostrelPort = FreePort();
  std::string ini = GeneralSection(ostrelPort, true);
  for (int port = 0; port < 4; ++port) ini += PortSection(port, "TCPS", std::to_string(FreePort()));
  for (int port = 4; port < 8; ++port) ini += PortSection(port, "TCPC", std::to_string(FreePort()));
  const int64_t start = NowNs();
  GatewayRun run = StartGateway(options, ini, ostrelPort);
  const int fd = ConnectWithin(ostrelPort, std::chrono::seconds(10));
  const double ms = (NowNs() - start) / 1e6;
  if (fd < 0) return -1;
  close(fd);
  return ms;
}

// Every stream at full speed at once, each written from its own thread. The CPU time the
// relaying processes spent until every receiver had counted its lines, and the span.
struct AtOnceFigures {
  double linesPerSecond = 0;
  double cpuUsPerLine = 0;
  double peakRssMb = 0;
};

int64_t SumCpuTicks(const std::vector<pid_t>& pids) {
  int64_t ticks = 0;
  for (pid_t pid : pids) ticks += CpuTicks(pid);
  return ticks;
}

// receivers: one per stream (relays) or one for all (the gateway's single alarm-server stream),
// each expecting its share of the lines.
AtOnceFigures SendAtOnce(const std::vector<int>& senders, const std::vector<int>& receiveFds,
                         const std::vector<pid_t>& relays, uint64_t linesEach) {
  const uint64_t total = linesEach * senders.size();
  std::vector<std::unique_ptr<Receiver>> receivers;
  std::vector<std::thread> reading, sending;
  for (int fd : receiveFds) {
    receivers.push_back(std::make_unique<Receiver>(fd, total / receiveFds.size(), 0));
    reading.emplace_back([receiver = receivers.back().get()] { receiver->Run(); });
  }
  std::string block;
  for (uint64_t i = 0; i < BlockLines; ++i) block += Message(i + 1'000'000'000);
  const int64_t ticksBefore = SumCpuTicks(relays);
  const int64_t start = NowNs();
  for (int fd : senders) {
    sending.emplace_back([&block, fd, linesEach] {
      for (uint64_t sent = 0; sent < linesEach; sent += BlockLines) {
        const size_t lines = std::min<uint64_t>(BlockLines, linesEach - sent);
        if (!WriteAll(fd, std::string_view(block.data(), lines * LineLength))) break;
      }
    });
  }
  for (std::thread& thread : sending) thread.join();
  const bool arrived = WaitFor(
      [&] {
        return std::all_of(receivers.begin(), receivers.end(),
                           [](const auto& receiver) { return receiver->FullSpeedDoneNs() != 0; });
      },
      std::chrono::seconds(120));
  const int64_t ticks = SumCpuTicks(relays) - ticksBefore;
  int64_t last = start;
  for (const auto& receiver : receivers) last = std::max(last, receiver->FullSpeedDoneNs());
  for (const auto& receiver : receivers) receiver->Stop();
  for (std::thread& thread : reading) thread.join();
  AtOnceFigures figures;
  if (!arrived) {
    std::fprintf(stderr, "not every line arrived\n");
    return figures;
  }
  figures.linesPerSecond = total * 1e9 / static_cast<double>(last - start);
  figures.cpuUsPerLine = static_cast<double>(ticks) / sysconf(_SC_CLK_TCK) * 1e6 / total;
  return figures;
}

AtOnceFigures MeasureSocatAtOnce(const Options& options, TempFolder& folder) {
  std::vector<std::unique_ptr<ChildProcess>> relays;
  std::vector<int> listeners, senders, receiveFds;
  std::vector<pid_t> pids;
  for (int port = 0; port < options.ports; ++port) {
    listeners.push_back(ListenLoopback(0));
    const int relayPort = FreePort();
    relays.push_back(StartSocat(options, relayPort, LocalPort(listeners.back()),
                                folder.Path() + "socat" + std::to_string(port) + ".txt"));
    pids.push_back(relays.back()->Pid());
    senders.push_back(ConnectWithin(relayPort, std::chrono::seconds(5)));
    receiveFds.push_back(AcceptWithin(listeners.back(), std::chrono::seconds(5)));
    if (senders.back() < 0 || receiveFds.back() < 0) {
      std::fprintf(stderr, "socat did not relay (is it installed?)\n");
      return {};
    }
    SetNoDelay(senders.back());
  }
  const AtOnceFigures figures =
      SendAtOnce(senders, receiveFds, pids, options.fullSpeedLines / options.ports);
  for (int fd : senders) close(fd);
  for (int fd : receiveFds) close(fd);
  for (int fd : listeners) close(fd);
  return figures;
}

AtOnceFigures MeasureGatewayAtOnce(const Options& options) {
  const int ostrelPort = FreePort();
  std::string ini = GeneralSection(ostrelPort, false);
  std::vector<int> inputPorts;
  for (int port = 0; port < options.ports; ++port) {
    inputPorts.push_back(FreePort());
    ini += PortSection(port, "TCPS", std::to_string(inputPorts.back()));
  }
  GatewayRun run = StartGateway(options, ini, ostrelPort);
  const int receive = ConnectWithin(ostrelPort, std::chrono::seconds(10));
  WaitFor([&] { return LogHolds(run.folder->Path(), "Accepted Ostrel connection"); },
          std::chrono::seconds(5));
  std::vector<int> senders;
  for (int port = 0; port < options.ports; ++port) {
    senders.push_back(ConnectWithin(inputPorts[port], std::chrono::seconds(5)));
    const std::string accepted = "Connection (" + std::to_string(port) + ") accepted";
    WaitFor([&] { return LogHolds(run.folder->Path(), accepted); }, std::chrono::seconds(5));
    if (senders.back() < 0) break;
    SetNoDelay(senders.back());
  }
  if (receive < 0 || std::find(senders.begin(), senders.end(), -1) != senders.end()) {
    std::fprintf(stderr, "the gateway did not start (see %s)\n", run.folder->Path().c_str());
    run.folder->Keep();
    return {};
  }
  AtOnceFigures figures =
      SendAtOnce(senders, {receive}, {run.process->Pid()}, options.fullSpeedLines / options.ports);
  figures.peakRssMb = ProcStatusKb(run.process->Pid(), "VmHWM") / 1024.0;
  for (int fd : senders) close(fd);
  close(receive);
  return figures;
}

void PrintRow(const char* name, const Figures& figures, const Figures& direct) {
  std::printf("%-9s %12.0f %12.1f %10.1f %12.1f %10.1f %9llu/%llu %10.3f\n", name,
              figures.linesPerSecond, figures.medianUs, figures.p99Us,
              figures.medianUs - direct.medianUs, figures.p99Us - direct.p99Us,
              static_cast<unsigned long long>(figures.pacedReceived),
              static_cast<unsigned long long>(figures.paced), figures.cpuUsPerLine);
}

double Spread(std::vector<double> values, double& low, double& high) {
  std::sort(values.begin(), values.end());
  low = values.front();
  high = values.back();
  return values[values.size() / 2];
}

// Rounds of the gateway without and with the status server being read, in alternating order.
int CompareStatusServer(const Options& options) {
  std::vector<double> throughput, addedP99;
  std::printf("%-6s %14s %14s %12s %12s %8s %8s\n", "round", "lines/s plain", "lines/s status",
              "p99+ plain", "p99+ status", "thr", "p99+");
  for (int round = 0; round < options.statusRepeats; ++round) {
    double rss = 0;
    const Figures direct = MeasureDirect(options);
    Figures plain, status;
    if (round % 2 == 0) {
      plain = MeasureGateway(options, rss, false);
      status = MeasureGateway(options, rss, true);
    } else {
      status = MeasureGateway(options, rss, true);
      plain = MeasureGateway(options, rss, false);
    }
    const double plainAdded = plain.p99Us - direct.p99Us;
    const double statusAdded = status.p99Us - direct.p99Us;
    throughput.push_back(status.linesPerSecond / plain.linesPerSecond);
    addedP99.push_back(statusAdded / plainAdded);
    std::printf("%-6d %14.0f %14.0f %12.1f %12.1f %8.3f %8.3f\n", round + 1, plain.linesPerSecond,
                status.linesPerSecond, plainAdded, statusAdded, throughput.back(), addedP99.back());
  }
  double low = 0, high = 0;
  const double medianThroughput = Spread(throughput, low, high);
  std::printf("status/plain throughput: median %.3f (%.3f .. %.3f)\n", medianThroughput, low, high);
  const double medianP99 = Spread(addedP99, low, high);
  std::printf("status/plain added p99 latency: median %.3f (%.3f .. %.3f)\n", medianP99, low, high);
  return 0;
}

const char* Verdict(bool met) {
  return met ? "met" : "MISSED";
}

void PrintSpread(const char* name, const std::vector<double>& values) {
  double low = 0, high = 0;
  const double median = Spread(values, low, high);
  std::printf("%s: median %.2f (%.2f .. %.2f, %zu runs)\n", name, median, low, high, values.size());
}

// N streams at once through N socat relays and through one gateway, in alternating order.
int CompareAtOnce(Options options, TempFolder& scratch) {
  std::printf("%d streams at once, %llu lines of %zu bytes each\n", options.ports,
              static_cast<unsigned long long>(options.fullSpeedLines / options.ports), LineLength);
  std::printf("%-6s %14s %14s %12s %12s %9s %8s %8s\n", "round", "lines/s socat", "lines/s gw",
              "cpu us socat", "cpu us gw", "RSS MB", "thr", "cpu");
  std::vector<double> throughput, cpu, rss;
  for (int round = 0; round < options.repeats; ++round) {
    if (!PlaceRound(options, round)) std::printf("round %d: cannot pin here\n", round + 1);
    AtOnceFigures socat, gateway;
    if (round % 2 == 0) {
      socat = MeasureSocatAtOnce(options, scratch);
      gateway = MeasureGatewayAtOnce(options);
    } else {
      gateway = MeasureGatewayAtOnce(options);
      socat = MeasureSocatAtOnce(options, scratch);
    }
    throughput.push_back(gateway.linesPerSecond / socat.linesPerSecond);
    cpu.push_back(gateway.cpuUsPerLine / socat.cpuUsPerLine);
    rss.push_back(gateway.peakRssMb);
    std::printf("%-2d%-4s %14.0f %14.0f %12.3f %12.3f %9.1f %8.2f %8.2f\n", round + 1,
                options.pinned ? " pin" : " ---", socat.linesPerSecond, gateway.linesPerSecond,
                socat.cpuUsPerLine, gateway.cpuUsPerLine, gateway.peakRssMb, throughput.back(),
                cpu.back());
  }
  PrintSpread("gateway/socat throughput", throughput);
  PrintSpread("gateway/socat CPU per line", cpu);
  PrintSpread("gateway peak RSS MB", rss);
  double low = 0, high = 0;
  const double peakRss = (Spread(rss, low, high), high);
  std::printf(
      "\nTargets (medians over the rounds): throughput >= 1.3 x %d socat relays': %s; CPU per "
      "line <= 0.8 x theirs: %s; RSS < 40 MB in every round: %s\n",
      options.ports, Verdict(Spread(throughput, low, high) >= 1.3),
      Verdict(Spread(cpu, low, high) <= 0.8), Verdict(peakRss < 40));
  return 0;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--lines") options.fullSpeedLines = std::strtoull(value, nullptr, 10);
    if (name == "--rate") options.rate = std::strtoull(value, nullptr, 10);
    if (name == "--seconds") options.paceSeconds = std::atof(value);
    if (name == "--idle-seconds") options.idleSeconds = std::atoi(value);
    if (name == "--gateway") options.gateway = value;
    if (name == "--status-repeats") options.statusRepeats = std::atoi(value);
    if (name == "--repeats") options.repeats = std::max(1, std::atoi(value));
    if (name == "--ports") options.ports = std::clamp(std::atoi(value), 1, 8);
    if (name == "--placement") options.placement = value;
  }
  return options;
}

}  // namespace
}  // namespace tarvel::tools

int main(int argc, char** argv) {
  using namespace tarvel::tools;
  signal(SIGPIPE, SIG_IGN);
  prctl(PR_SET_TIMERSLACK, 1UL);  // the paced sender wakes on time
  Options options = ParseOptions(argc, argv);
  TempFolder scratch("e2e-benchmark-socat");
  if (options.statusRepeats > 0) return CompareStatusServer(options);

  if (options.ports > 1) return CompareAtOnce(options, scratch);

  std::printf("Stream: %llu lines of %zu bytes at full speed, then %.0f s at %llu lines/s\n",
              static_cast<unsigned long long>(options.fullSpeedLines), LineLength,
              options.paceSeconds, static_cast<unsigned long long>(options.rate));
  std::vector<double> throughput, addedMedian, addedP99, rss, cpu, directRate;
  for (int round = 0; round < options.repeats; ++round) {
    if (!PlaceRound(options, round)) std::printf("round %d: cannot pin here\n", round + 1);
    const Figures direct = MeasureDirect(options);
    Figures socat, gateway;
    double peakRssMb = 0;
    if (round % 2 == 0) {
      socat = MeasureSocat(options, scratch);
      gateway = MeasureGateway(options, peakRssMb);
    } else {
      gateway = MeasureGateway(options, peakRssMb);
      socat = MeasureSocat(options, scratch);
    }

    std::printf("\nround %d, %s\n", round + 1, options.pinned ? "pinned" : "unpinned");
    std::printf("%-9s %12s %12s %10s %12s %10s %13s %10s\n", "path", "lines/s", "median us",
                "p99 us", "added med", "added p99", "paced recv", "cpu us/ln");
    PrintRow("direct", direct, direct);
    PrintRow("socat", socat, direct);
    PrintRow("gateway", gateway, direct);
    throughput.push_back(gateway.linesPerSecond / socat.linesPerSecond);
    addedMedian.push_back((gateway.medianUs - direct.medianUs) /
                          (socat.medianUs - direct.medianUs));
    addedP99.push_back((gateway.p99Us - direct.p99Us) / (socat.p99Us - direct.p99Us));
    rss.push_back(peakRssMb);
    cpu.push_back(gateway.cpuUsPerLine / socat.cpuUsPerLine);
    directRate.push_back(direct.linesPerSecond / 1e6);
    std::printf(
        "gateway/socat: throughput %.2f, added median latency %.2f, added p99 latency %.2f, CPU "
        "per line %.2f\n",
        throughput.back(), addedMedian.back(), addedP99.back(), cpu.back());
  }
  if (options.repeats > 1) {
    std::printf("\n");
    PrintSpread("gateway/socat throughput", throughput);
    PrintSpread("gateway/socat added median latency", addedMedian);
    PrintSpread("gateway/socat added p99 latency", addedP99);
    PrintSpread("gateway/socat CPU per line at full speed", cpu);
    PrintSpread("direct connection, M lines/s (this machine)", directRate);
  }
  double low = 0, high = 0;
  const double medianThroughput = Spread(throughput, low, high);
  const double medianAddedMedian = Spread(addedMedian, low, high);
  const double medianAddedP99 = Spread(addedP99, low, high);
  const double medianCpu = Spread(cpu, low, high);
  Spread(rss, low, high);
  const double peakRssMb = high;

  Unpin();
  std::vector<double> starts;
  for (int i = 0; i < 3; ++i) starts.push_back(MeasureStartMs(options));
  std::sort(starts.begin(), starts.end());
  std::printf("start to listening: %.1f ms median (%.1f .. %.1f, 3 runs)\n", starts[1], starts[0],
              starts[2]);
  std::printf("peak resident memory (VmHWM) after the full-speed runs: %.1f MB\n", peakRssMb);
  const double idleCpu = options.idleSeconds > 0 ? MeasureIdleCpu(options) : -1;
  std::printf("idle CPU, 8 ports connected, %d s: %.3f %% of one core\n", options.idleSeconds,
              idleCpu);

  std::printf(
      "\nTargets (medians over the rounds): throughput >= 1.3 x socat's: %s; CPU per line <= 0.8 x "
      "socat's: %s; added median latency <= socat's: %s; added p99 <= socat's: %s; idle CPU < "
      "0.5 %%: %s; RSS < 40 MB: %s\n",
      Verdict(medianThroughput >= 1.3), Verdict(medianCpu <= 0.8),
      Verdict(medianAddedMedian <= 1.0), Verdict(medianAddedP99 <= 1.0),
      idleCpu < 0 ? "not measured" : Verdict(idleCpu < 0.5),
      Verdict(peakRssMb > 0 && peakRssMb < 40));
  return 0;
}
