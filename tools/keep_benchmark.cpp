// Keeping figures of the gateway with a keep file, beside socat storing the same stream in a
// file and sending it back, measured in the same run:
//   - keeping: N event lines (100-byte messages) sent by equipment while no alarm server is
//     connected, until the keep file holds them all: lines per second;
//   - hand-over: an alarm server connects, until it has received all N lines: seconds.
// socat's figures are for "TCP-LISTEN -> OPEN:file" (no fdatasync) and "OPEN:file ->
// TCP-LISTEN". Each is repeated --rounds times; the median and the spread are printed. Run it
// from a Release build. Needs socat on the PATH.
//
//   keep_benchmark [--lines N] [--rounds R] [--gateway PATH]
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ToolSupport.h"

namespace tarvel::tools {
namespace {

constexpr size_t MessageLength = 100;  // CR LF included
constexpr size_t OutputLength = 93;    // the alarm-server line the gateway makes of it
constexpr uint64_t KeepFileHeader = 48, RecordHeader = 8;

struct Options {
  uint64_t lines = 100'000;
  int rounds = 3;
  const char* gateway = nullptr;
};

std::string Stream(uint64_t lines) {
  std::string stream;
  for (uint64_t n = 0; n < lines; ++n) {
    std::string line = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open ";
    char number[32];
    std::snprintf(number, sizeof number, " seq=%012llu\r\n", static_cast<unsigned long long>(n));
    line.append(MessageLength - line.size() - std::strlen(number), '.');
    stream += line + number;
  }
  return stream;
}

uint64_t FileSize(const std::string& path) {
  std::error_code missing;
  const auto size = std::filesystem::file_size(path, missing);
  return missing ? 0 : size;
}

// Seconds until the file reaches the size, or -1 after a minute.
double WaitForSize(const std::string& path, uint64_t size, int64_t startNs) {
  while (FileSize(path) < size) {
    if (NowNs() - startNs > 60'000'000'000) return -1;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return static_cast<double>(NowNs() - startNs) / 1e9;
}

// Seconds until the connection has delivered the bytes, or -1 after a minute.
double ReceiveAll(int port, uint64_t bytes) {
  const int64_t startNs = NowNs();
  const int fd = ConnectWithin(port, std::chrono::milliseconds(10000));
  uint64_t received = 0;
  char buffer[1 << 16];
  while (received < bytes && NowNs() - startNs < 60'000'000'000) {
    const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    received += static_cast<uint64_t>(count);
  }
  close(fd);
  return received >= bytes ? static_cast<double>(NowNs() - startNs) / 1e9 : -1;
}

struct Round {
  double keepSeconds = 0;
  double handOverSeconds = 0;
};

Round MeasureGateway(const Options& options, const std::string& stream) {
  TempFolder folder("keep-benchmark");
  const int ostrelPort = FreePort(), inputPort = FreePort();
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                   "\nKeepFile=kept.dat\nKeepLimit=1073741824\n[TARVEL80_Port_0]\nDescription="
                   "Bench\nPortType=TCPS\nListenPort=" +
                   std::to_string(inputPort) + "\n");
  ChildProcess gateway({GatewayBesideTools(options.gateway), "--headless", "--dir", folder.Path()},
                       folder.Path() + "output.txt");
  for (int i = 0; i < 200 && !LogHolds(folder.Path(), "in listen mode"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  Round round;
  const int equipment = ConnectWithin(inputPort, std::chrono::milliseconds(10000));
  const int64_t startNs = NowNs();
  WriteAll(equipment, stream);
  round.keepSeconds =
      WaitForSize(folder.Path() + "kept.dat",
                  KeepFileHeader + options.lines * (RecordHeader + OutputLength), startNs);
  round.handOverSeconds = ReceiveAll(ostrelPort, options.lines * OutputLength);
  close(equipment);
  return round;
}

Round MeasureSocat(const std::string& stream) {
  TempFolder folder("keep-benchmark-socat");
  const std::string file = folder.Path() + "kept.dat";
  Round round;
  {
    const int port = FreePort();
    ChildProcess socat({"socat", "-u", "TCP-LISTEN:" + std::to_string(port) + ",reuseaddr",
                        "OPEN:" + file + ",creat,append"},
                       folder.Path() + "socat-in.txt");
    const int equipment = ConnectWithin(port, std::chrono::milliseconds(10000));
    const int64_t startNs = NowNs();
    WriteAll(equipment, stream);
    round.keepSeconds = WaitForSize(file, stream.size(), startNs);
    close(equipment);
  }
  const int port = FreePort();
  ChildProcess socat({"socat", "-u", "OPEN:" + file + ",rdonly",
                      "TCP-LISTEN:" + std::to_string(port) + ",reuseaddr"},
                     folder.Path() + "socat-out.txt");
  round.handOverSeconds = ReceiveAll(port, stream.size());
  return round;
}

struct Spread {
  double median, low, high;
};
Spread Of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

}  // namespace
}  // namespace tarvel::tools

int main(int argc, char** argv) {
  using namespace tarvel::tools;
  signal(SIGPIPE, SIG_IGN);
  Options options;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--lines") options.lines = std::strtoull(argv[++i], nullptr, 10);
    if (name == "--rounds") options.rounds = std::max(1, std::atoi(argv[++i]));
    if (name == "--gateway") options.gateway = argv[++i];
  }
  const std::string stream = Stream(options.lines);
  std::vector<double> keepRate, handOver, socatRate, socatHandOver, keepRatio, handOverRatio;
  for (int round = 0; round < options.rounds; ++round) {
    const Round gateway = MeasureGateway(options, stream);
    const Round socat = MeasureSocat(stream);
    if (gateway.keepSeconds < 0 || gateway.handOverSeconds < 0 || socat.keepSeconds < 0 ||
        socat.handOverSeconds < 0) {
      std::fprintf(stderr, "round %d did not complete (is socat installed?)\n", round + 1);
      return 1;
    }
    const double lines = static_cast<double>(options.lines);
    keepRate.push_back(lines / gateway.keepSeconds);
    socatRate.push_back(lines / socat.keepSeconds);
    handOver.push_back(gateway.handOverSeconds);
    socatHandOver.push_back(socat.handOverSeconds);
    keepRatio.push_back(keepRate.back() / socatRate.back());
    handOverRatio.push_back(gateway.handOverSeconds / socat.handOverSeconds);
  }
  auto print = [](const char* what, const std::vector<double>& values, const char* unit) {
    const Spread spread = Of(values);
    std::printf("%-34s median %12.3f %s (%.3f to %.3f)\n", what, spread.median, unit, spread.low,
                spread.high);
  };
  std::printf("%llu lines of %zu bytes, %d rounds\n",
              static_cast<unsigned long long>(options.lines), MessageLength, options.rounds);
  print("gateway keeping into its file", keepRate, "lines/s");
  print("socat into a file", socatRate, "lines/s");
  print("gateway/socat keeping", keepRatio, "x");
  print("gateway hand-over after reconnect", handOver, "s");
  print("socat sending the file", socatHandOver, "s");
  print("gateway/socat hand-over time", handOverRatio, "x");
  return 0;
}
