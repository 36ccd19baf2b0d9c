// Pushes TARVEL80 messages through ProcessReceivedData into a connected alarm server that only
// counts bytes (or, in the last case, into the keep file while none is connected), with the
// traffic trace off, and prints nanoseconds and heap allocations per line (operator new is
// counted in this program), each case in five rounds: the median and the spread. Build it in a
// Release tree to measure.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/GatewayAssembly.h"
#include "platform/posix/PosixKeepFileIo.h"
#include "platform/posix/SystemClock.h"
#include "state/PortControls.h"
#include "ui/InMemoryViews.h"

namespace {
uint64_t allocations = 0;  // one thread: the gateway's
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace tarvel {
namespace {

// A socket that stays in its state (connected unless told) and counts what it is given.
class CountingSocket : public SocketControl {
 public:
  explicit CountingSocket(int16_t state = SocketControl::Connected) : state_(state) {}
  void SetState(int16_t state) { state_ = state; }
  void SetHandlers(SocketHandlers) override {}
  int16_t State() const override { return state_; }
  int32_t LocalPort() const override { return 14000; }
  void SetLocalPort(int32_t) override {}
  void SetLocalAddress(const std::string&) override {}
  std::string RemoteHost() const override { return "bench"; }
  void SetRemoteHost(const std::string&) override {}
  int32_t RemotePort() const override { return 1; }
  void SetRemotePort(int32_t) override {}
  std::string RemoteHostIP() const override { return "127.0.0.1"; }
  SocketError Listen() override { return {}; }
  void Connect() override {}
  SocketError Accept(int32_t) override { return {}; }
  void Close() override {}
  void SendData(std::string_view data) override {
    bytes_ += data.size();
    ++sends_;
  }
  int64_t BytesToWrite() const override { return 0; }
  std::string TakeUnsent() override { return {}; }
  void SetReceivePaused(bool) override {}
  uint64_t Bytes() const { return bytes_; }
  uint64_t Sends() const { return sends_; }

 private:
  int16_t state_;
  uint64_t bytes_ = 0;
  uint64_t sends_ = 0;
};

// The serial ports, unused here.
class UnusedSerial : public SerialControl {
 public:
  void SetHandlers(SerialHandlers) override {}
  int16_t CommPort() const override { return 1; }
  SerialError SetCommPort(int16_t) override { return {}; }
  SerialError SetSettings(const SerialLineSettings&) override { return {}; }
  SerialError SetHandshaking(int32_t) override { return {}; }
  SerialError SetPortOpen(bool) override { return {}; }
  bool PortOpen() const override { return false; }
};

// Views that keep only the last text, as a window would.
class LastTextList : public ConnectionListView {
 public:
  int AddRow(const std::string&) override { return 0; }
  void SetSubItem(int, int subItem, const std::string& text) override {
    texts_[subItem & 3] = text;
  }

 private:
  std::string texts_[4];
};

class LastTextStatusBar : public StatusBarView {
 public:
  void SetPanelText(int panel, const std::string& text) override { texts_[panel & 3] = text; }

 private:
  std::string texts_[4];
};

class IdleTimer : public UpdateTimer {
 public:
  void SetHandler(std::function<void()>) override {}
  int32_t Interval() const override { return 100; }
  void SetEnabled(bool) override {}
};

struct Bench {
  Bench()
      : folder(std::filesystem::temp_directory_path() /
               ("pipeline_benchmark_" + std::to_string(getpid()))) {
    std::filesystem::create_directories(folder / "LogFiles");
    for (int port = 0; port < 2; ++port) {
      assembly.TheGateway.PortSettings(port).Kind = PortKind::TcpServer;
      assembly.TheGateway.PortSettings(port).Description = "Bench " + std::to_string(port);
      assembly.TheGateway.PortSettings(port).ConnectionListItem = 0;
    }
    for (int port = 0; port < PortCount; ++port) {
      ports.WinsockConnect(port).SetState(SocketControl::Listening);
    }
    ports.WinsockOstrelConnect().SetState(SocketControl::Listening);
  }
  ~Bench() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  std::filesystem::path folder;
  SystemClock clock;
  PosixKeepFileIo keepIo;
  InMemoryDebugList debugList;
  InMemoryMenuChecks menus;  // "&Debug" unchecked: the trace is off
  LastTextList list;
  LastTextStatusBar statusBar;
  IdleTimer timer;
  PortControls<CountingSocket, UnusedSerial> ports{
      [] { return std::make_unique<CountingSocket>(); },
      [] { return std::make_unique<UnusedSerial>(); }};
  CountingSocket& ostrel = ports.WinsockOstrelData();
  GatewayAssembly assembly{GatewaySurroundings{clock, ports.Wired(), list, statusBar, debugList,
                                               menus, timer, folder.string() + "/",
                                               folder.string() + "/LogFiles", &keepIo}};
  ProgramState& state = assembly.State;
};

struct Round {
  double NsPerLine = 0;
  double AllocationsPerLine = 0;
  double SendsPerReception = 0;
};

// keep: no alarm server is connected, and the lines go to the keep file.
Round RunRound(int16_t port, const std::string& prologue, const std::string& reception,
               uint64_t linesPerReception, uint64_t receptions, bool keep) {
  Bench bench;
  Gateway& gateway = bench.assembly.TheGateway;
  if (keep) {
    bench.ostrel.SetState(SocketControl::Closed);
    bench.state.General.KeepFile = (bench.folder / "kept.dat").string();
    bench.state.General.KeepLimit = 1 << 30;
  }
  if (!prologue.empty()) gateway.ProcessReceivedData(port, prologue);
  // Warm-up: buffers reach their steady size.
  for (uint64_t i = 0; i < receptions / 20; ++i) gateway.ProcessReceivedData(port, reception);
  const uint64_t sendsBefore = bench.ostrel.Sends();
  const uint64_t allocationsBefore = allocations;
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t i = 0; i < receptions; ++i) gateway.ProcessReceivedData(port, reception);
  const auto stop = std::chrono::steady_clock::now();
  const double lines = static_cast<double>(linesPerReception * receptions);
  Round round;
  round.NsPerLine = std::chrono::duration<double, std::nano>(stop - start).count() / lines;
  round.AllocationsPerLine = static_cast<double>(allocations - allocationsBefore) / lines;
  round.SendsPerReception =
      static_cast<double>(bench.ostrel.Sends() - sendsBefore) / static_cast<double>(receptions);
  return round;
}

void Run(const char* name, int16_t port, const std::string& prologue, const std::string& reception,
         uint64_t linesPerReception, uint64_t receptions, bool keep = false) {
  constexpr int Rounds = 5;
  std::vector<Round> rounds;
  for (int n = 0; n < Rounds; ++n)
    rounds.push_back(RunRound(port, prologue, reception, linesPerReception, receptions, keep));
  std::sort(rounds.begin(), rounds.end(),
            [](const Round& a, const Round& b) { return a.NsPerLine < b.NsPerLine; });
  const Round& median = rounds[Rounds / 2];
  std::printf("%-46s %7.1f ns/line (%.1f to %.1f)  %.2f allocations/line  %.2f sends/reception\n",
              name, median.NsPerLine, rounds.front().NsPerLine, rounds.back().NsPerLine,
              median.AllocationsPerLine, median.SendsPerReception);
}

std::string Repeat(const std::string& text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i) result += text;
  return result;
}

}  // namespace
}  // namespace tarvel

// With a number as argument, runs only that case (for a profiler).
int main(int argc, char** argv) {
  using tarvel::Repeat;
  using tarvel::Run;
  const int only = argc > 1 ? std::atoi(argv[1]) : 0;
  const std::string single = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\r\n";
  const std::string multi =
      "NACK ALARM 12-JAN-17 10:20:30 Fire detector\r\nHall 2\r\nSecond floor\r\n";
  if (only == 0 || only == 1) {
    Run("single-line, 1 line per reception", 0, "", single, 1, 3'000'000);
  }
  if (only == 0 || only == 2) {
    Run("single-line, 50 lines per reception", 0, "", Repeat(single, 50), 50, 100'000);
  }
  if (only == 0 || only == 3) {
    Run("multi-line (header + 2 lines), 1 event/recv", 1, multi, multi, 3, 1'000'000);
  }
  if (only == 0 || only == 4) {
    Run("multi-line (header + 2 lines), 20 events/recv", 1, multi, Repeat(multi, 20), 60, 50'000);
  }
  if (only == 0 || only == 5) {
    Run("kept in the keep file, 2000 lines per reception", 0, "", Repeat(single, 2000), 2000, 100,
        true);
  }
  return 0;
}
