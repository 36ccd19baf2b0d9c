// Keeping figures of the gateway with a keep file, beside socat storing the same stream in a
// file and sending it back, measured in the same run:
//   - keeping: N event lines (100-byte messages) sent by equipment while no alarm server is
//     connected, until the keep file holds them all: lines per second;
//   - hand-over: an alarm server connects, until it has received all N lines: seconds.
// socat's figures are for "TCP-LISTEN -> OPEN:file" (no fdatasync) and "OPEN:file ->
// TCP-LISTEN". Each is repeated --rounds times (at least 5), gateway and socat in turn; each
// figure is printed as the median and the spread (lowest to highest), socat's beside the
// gateway's. The hand-over time counts from the connection attempt, as an alarm server sees
// it; its first byte is printed apart, since the gateway hands kept lines over on its 100 ms
// tick. Run it from a Release build. Needs socat on the PATH.
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
constexpr int MinRounds = 5;

struct Options {
  uint64_t lines = 100'000;
  int rounds = MinRounds;
  const char* gateway = nullptr;
};

std::string Sequence(uint64_t n) {
  char number[32];
  std::snprintf(number, sizeof number, " seq=%012llu", static_cast<unsigned long long>(n));
  return number;
}

std::string Stream(uint64_t lines) {
  std::string stream;
  for (uint64_t n = 0; n < lines; ++n) {
    std::string line = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open ";
    const std::string number = Sequence(n) + "\r\n";
    line.append(MessageLength - line.size() - number.size(), '.');
    stream += line + number;
  }
  return stream;
}

uint64_t FileSize(const std::string& path) {
  std::error_code missing;
  const auto size = std::filesystem::file_size(path, missing);
  return missing ? 0 : size;
}

// The file ends with the text (the last line kept: records are appended in order).
bool EndsWith(const std::string& path, const std::string& text) {
  std::ifstream file(path, std::ios::binary);
  const uint64_t size = FileSize(path);
  if (!file || size < text.size()) return false;
  file.seekg(static_cast<std::streamoff>(size - text.size()));
  std::string tail(text.size(), '\0');
  return file.read(tail.data(), static_cast<std::streamsize>(tail.size())) && tail == text;
}

// Seconds until done() holds, or -1 after a minute.
double WaitFor(const std::function<bool()>& done, int64_t startNs) {
  while (!done()) {
    if (NowNs() - startNs > 60'000'000'000) return -1;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return static_cast<double>(NowNs() - startNs) / 1e9;
}

struct Round {
  double keepSeconds = 0;
  double handOverSeconds = 0;
  double firstByteSeconds = 0;
};

// Seconds until the connection has delivered the bytes (-1 after a minute), and until its
// first byte.
void ReceiveAll(int port, uint64_t bytes, Round& round) {
  const int64_t startNs = NowNs();
  const int fd = ConnectWithin(port, std::chrono::milliseconds(10000));
  uint64_t received = 0;
  char buffer[1 << 16];
  round.handOverSeconds = round.firstByteSeconds = -1;
  while (received < bytes && NowNs() - startNs < 60'000'000'000) {
    const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
    if (count <= 0) break;
    if (received == 0) round.firstByteSeconds = static_cast<double>(NowNs() - startNs) / 1e9;
    received += static_cast<uint64_t>(count);
  }
  close(fd);
  if (received >= bytes) round.handOverSeconds = static_cast<double>(NowNs() - startNs) / 1e9;
}

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
  const std::string lastLine = Sequence(options.lines - 1) + "\n";
  round.keepSeconds =
      WaitFor([&] { return EndsWith(folder.Path() + "kept.dat", lastLine); }, startNs);
  ReceiveAll(ostrelPort, options.lines * OutputLength, round);
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
    round.keepSeconds = WaitFor([&] { return FileSize(file) >= stream.size(); }, startNs);
    close(equipment);
  }
  const int port = FreePort();
  ChildProcess socat({"socat", "-u", "OPEN:" + file + ",rdonly",
                      "TCP-LISTEN:" + std::to_string(port) + ",reuseaddr"},
                     folder.Path() + "socat-out.txt");
  ReceiveAll(port, stream.size(), round);
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
    if (name == "--lines")
      options.lines = std::max<uint64_t>(1, std::strtoull(argv[++i], nullptr, 10));
    if (name == "--rounds") options.rounds = std::max(MinRounds, std::atoi(argv[++i]));
    if (name == "--gateway") options.gateway = argv[++i];
  }
  const std::string stream = Stream(options.lines);
  // Per figure: the gateway's values, socat's, and their ratio round by round.
  struct Figure {
    const char* name;
    const char* unit;
    std::vector<double> gateway, socat, ratio;
    void Add(double g, double s) {
      gateway.push_back(g);
      socat.push_back(s);
      ratio.push_back(g / s);
    }
  };
  Figure keeping{"keeping into a file", "lines/s", {}, {}, {}},
      handOver{"hand-over after reconnect", "s", {}, {}, {}},
      firstByte{"  to the first byte", "s", {}, {}, {}},
      restBytes{"  from the first byte to the last", "s", {}, {}, {}};
  for (int round = 0; round < options.rounds; ++round) {
    const Round gateway = MeasureGateway(options, stream);
    const Round socat = MeasureSocat(stream);
    if (gateway.keepSeconds < 0 || gateway.handOverSeconds < 0 || socat.keepSeconds < 0 ||
        socat.handOverSeconds < 0) {
      std::fprintf(stderr, "round %d did not complete (is socat installed?)\n", round + 1);
      return 1;
    }
    const double lines = static_cast<double>(options.lines);
    keeping.Add(lines / gateway.keepSeconds, lines / socat.keepSeconds);
    handOver.Add(gateway.handOverSeconds, socat.handOverSeconds);
    firstByte.Add(gateway.firstByteSeconds, socat.firstByteSeconds);
    restBytes.Add(gateway.handOverSeconds - gateway.firstByteSeconds,
                  socat.handOverSeconds - socat.firstByteSeconds);
  }
  std::printf("%llu lines of %zu bytes, %d rounds: median (lowest to highest)\n",
              static_cast<unsigned long long>(options.lines), MessageLength, options.rounds);
  for (const Figure* figure : {&keeping, &handOver, &firstByte, &restBytes}) {
    const Spread g = Of(figure->gateway), s = Of(figure->socat), r = Of(figure->ratio);
    std::printf(
        "%-33s gateway %11.3f %s (%.3f to %.3f)  socat %11.3f (%.3f to %.3f)  gateway/socat "
        "%.3fx (%.3f to %.3f)\n",
        figure->name, g.median, figure->unit, g.low, g.high, s.median, s.low, s.high, r.median,
        r.low, r.high);
  }
  return 0;
}
