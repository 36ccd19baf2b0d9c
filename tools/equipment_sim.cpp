// Plays TARVEL80 alarm equipment for the gateway: sends the lines of a file (or of standard
// input), or a steady stream of generated messages, over TCP or a serial device.

#include <arpa/inet.h>
#include <fcntl.h>
#include <termios.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "SimSupport.h"

namespace tarvel::sim {
namespace {

const char* const Usage = R"(Usage: equipment_sim TARGET [SOURCE] [SHAPING]

Plays TARVEL80 alarm equipment: sends event lines to the gateway's input port.

TARGET (one of):
  --connect HOST:PORT  connect to a gateway port of type TCPS (gateway listens)
  --listen PORT        listen on PORT and send to the gateway once it connects
                       (a port of type TCPC); after a dropped connection the next
                       connection gets the remaining lines
  --serial DEVICE      write to a serial device, for example /dev/ttyUSB0 or one end
                       of a pseudo-terminal pair
  --baud N             line speed of --serial (default 9600; 8 data bits, no parity,
                       1 stop bit, no handshaking)

SOURCE (default: the lines of standard input):
  --file PATH          send the lines of PATH ("-" for standard input); bytes are sent
                       as they are, each line end replaced by the chosen line end
  --rate N             generate N single-line messages per second instead, like
                       "ALARM 07-06-2017 10:20:30 SIM-ZONE-07        Generated event 7"
                       (odd numbers ALARM, even numbers NORMAL, current local time)
  --multi              with --rate: generate multi-line events instead, a header
                       "NACK ALARM 07-JUN-17 10:20:30 Sim zone 7" and one text line
  --count N            with --rate: stop after N messages (default: until Ctrl+C)

SHAPING:
  --lf                 end lines with LF only (default: CR LF)
  --line-delay MS      pause between lines of a file (default 0)
  --chunk N            write every line in pieces of N bytes, to try the framing
  --chunk-delay MS     pause between pieces (default 10)
  --keep               stay connected after the last line until Ctrl+C (with --listen:
                       take and hold the gateway's next connection when one closes)
  --help               show this text

At the end the number of lines and bytes sent and the rate reached go to stderr.
)";

struct Options {
  std::string ConnectTo;
  int ListenPort = 0;
  std::string SerialDevice;
  long Baud = 9600;
  std::string FilePath = "-";
  long Rate = 0;
  bool Multi = false;
  long Count = 0;
  std::string LineEnd = "\r\n";
  long LineDelayMs = 0;
  long ChunkSize = 0;
  long ChunkDelayMs = 10;
  bool Keep = false;
};

[[noreturn]] void Fail(const char* text, const char* detail = "") {
  std::fprintf(stderr, "equipment_sim: %s%s\n(see --help)\n", text, detail);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  int targets = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) Fail("missing value after ", option.c_str());
      return argv[++i];
    };
    if (option == "--help" || option == "-h") {
      std::fputs(Usage, stdout);
      std::exit(0);
    } else if (option == "--connect") {
      options.ConnectTo = value();
      ++targets;
    } else if (option == "--listen") {
      options.ListenPort = static_cast<int>(NumberArgument("--listen", value(), 1));
      ++targets;
    } else if (option == "--serial") {
      options.SerialDevice = value();
      ++targets;
    } else if (option == "--baud") {
      options.Baud = NumberArgument("--baud", value(), 50);
    } else if (option == "--file") {
      options.FilePath = value();
    } else if (option == "--rate") {
      options.Rate = NumberArgument("--rate", value(), 1);
    } else if (option == "--multi") {
      options.Multi = true;
    } else if (option == "--count") {
      options.Count = NumberArgument("--count", value(), 1);
    } else if (option == "--lf") {
      options.LineEnd = "\n";
    } else if (option == "--line-delay") {
      options.LineDelayMs = NumberArgument("--line-delay", value(), 0);
    } else if (option == "--chunk") {
      options.ChunkSize = NumberArgument("--chunk", value(), 1);
    } else if (option == "--chunk-delay") {
      options.ChunkDelayMs = NumberArgument("--chunk-delay", value(), 0);
    } else if (option == "--keep") {
      options.Keep = true;
    } else {
      Fail("unknown option ", option.c_str());
    }
  }
  if (targets != 1) Fail("give exactly one of --connect, --listen and --serial");
  return options;
}

void SleepMs(long ms) {
  if (ms <= 0) return;
  timespec pause{ms / 1000, (ms % 1000) * 1000000};
  nanosleep(&pause, nullptr);  // an interrupting signal ends the pause early
}

speed_t BaudConstant(long baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      Fail("unsupported --baud value");
  }
}

int OpenSerial(const Options& options) {
  const int fd = open(options.SerialDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "open %s: %s\n", options.SerialDevice.c_str(), std::strerror(errno));
    return -1;
  }
  termios settings{};
  if (tcgetattr(fd, &settings) == 0) {
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, BaudConstant(options.Baud));
    cfsetospeed(&settings, BaudConstant(options.Baud));
    tcsetattr(fd, TCSANOW, &settings);
  }
  return fd;
}

// Where the lines go. In listen mode a dropped gateway connection is replaced by the next one.
class Target {
 public:
  explicit Target(const Options& options) : options_(options) {}
  ~Target() { Close(); }

  bool Open() {
    if (!options_.SerialDevice.empty()) {
      fd_ = OpenSerial(options_);
    } else if (!options_.ConnectTo.empty()) {
      const auto address = ParseHostPort(options_.ConnectTo);
      if (!address) Fail("--connect needs HOST:PORT, not ", options_.ConnectTo.c_str());
      fd_ = ConnectTcp(*address);
      if (fd_ >= 0)
        std::fprintf(stderr, "connected to %s:%d\n", address->Host.c_str(), address->Port);
    } else {
      listener_ = ListenTcp(options_.ListenPort);
      if (listener_ < 0) return false;
      std::fprintf(stderr, "listening on port %d\n", options_.ListenPort);
      return AcceptGateway();
    }
    return fd_ >= 0;
  }

  // Sends one line, in pieces if asked; in listen mode waits for a new gateway connection
  // when the old one broke.
  bool Send(const std::string& line) {
    while (!stopRequested) {
      if (SendPieces(line)) return true;
      if (listener_ < 0 || !AcceptGateway()) return false;
    }
    return false;
  }

  // Waits until Ctrl+C, reporting when the peer goes away. In listen mode the gateway's next
  // connection is taken and held in turn (a restarted gateway finds its equipment again).
  void Hold() {
    std::fprintf(stderr, "holding the connection; Ctrl+C ends\n");
    while (WaitReadable(fd_)) {
      char discard[256];
      const ssize_t count = read(fd_, discard, sizeof discard);
      if (count == 0 || (count < 0 && errno != EINTR)) {
        std::fprintf(stderr, "the peer closed the connection\n");
        if (listener_ < 0 || !AcceptGateway()) return;
      }
    }
  }

  void Close() {
    if (fd_ >= 0) {
      if (!options_.SerialDevice.empty()) tcdrain(fd_);
      close(fd_);
    }
    if (listener_ >= 0) close(listener_);
    fd_ = listener_ = -1;
  }

 private:
  bool AcceptGateway() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!WaitReadable(listener_)) return false;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    fd_ = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd_ < 0) return false;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    std::fprintf(stderr, "gateway connected from %s:%d\n", text, ntohs(peer.sin_port));
    return true;
  }

  bool SendPieces(std::string_view line) {
    const size_t size =
        options_.ChunkSize <= 0 ? line.size() : static_cast<size_t>(options_.ChunkSize);
    for (size_t offset = 0; offset < line.size(); offset += size) {
      if (offset > 0) SleepMs(options_.ChunkDelayMs);
      if (!WriteAll(fd_, line.substr(offset, size))) {
        if (!stopRequested) std::fprintf(stderr, "write: %s\n", std::strerror(errno));
        return false;
      }
    }
    return true;
  }

  const Options& options_;
  int fd_ = -1;
  int listener_ = -1;
};

struct Totals {
  long Lines = 0;
  long Bytes = 0;
};

bool SendLine(Target& target, const std::string& line, Totals& totals) {
  if (!target.Send(line)) return false;
  ++totals.Lines;
  totals.Bytes += static_cast<long>(line.size());
  return true;
}

void SendFile(const Options& options, Target& target, Totals& totals) {
  FILE* file = options.FilePath == "-" ? stdin : std::fopen(options.FilePath.c_str(), "rb");
  if (file == nullptr) Fail("cannot open ", options.FilePath.c_str());
  char* buffer = nullptr;
  size_t capacity = 0;
  ssize_t length = 0;
  bool first = true;
  while (!stopRequested && (length = getline(&buffer, &capacity, file)) >= 0) {
    std::string line(buffer, static_cast<size_t>(length));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!first) SleepMs(options.LineDelayMs);
    first = false;
    if (!SendLine(target, line + options.LineEnd, totals)) break;
  }
  std::free(buffer);
  if (file != stdin) std::fclose(file);
}

// Message number n in the single-line or the multi-line layout, stamped with the local time.
std::string GeneratedMessage(const Options& options, long n) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  char text[160];
  if (options.Multi) {
    std::strftime(stamp, sizeof stamp, "%d-%b-%y %H:%M:%S", &local);
    std::snprintf(text, sizeof text, "NACK %s %s Sim zone %ld%sGenerated event %ld%s",
                  n % 2 == 1 ? "ALARM" : "NORMAL", stamp, n % 100, options.LineEnd.c_str(), n,
                  options.LineEnd.c_str());
  } else {
    std::strftime(stamp, sizeof stamp, "%d-%m-%Y %H:%M:%S", &local);
    char tag[32];
    std::snprintf(tag, sizeof tag, "SIM-ZONE-%02ld", n % 100);
    std::snprintf(text, sizeof text, "%s %s %-18s Generated event %ld%s",
                  n % 2 == 1 ? "ALARM" : "NORMAL", stamp, tag, n, options.LineEnd.c_str());
  }
  return text;
}

void SendGenerated(const Options& options, Target& target, Totals& totals) {
  const long periodNs = 1000000000L / options.Rate;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (long n = 1; !stopRequested && (options.Count == 0 || n <= options.Count); ++n) {
    if (!SendLine(target, GeneratedMessage(options, n), totals)) break;
    next.tv_nsec += periodNs;
    while (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    // Absolute deadlines keep the average rate even when a write was slow.
    while (!stopRequested &&
           clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
  }
}

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  InstallStopHandlers();
  Target target(options);
  if (!target.Open()) return 1;
  Totals totals;
  const auto start = std::chrono::steady_clock::now();
  if (options.Rate > 0) {
    SendGenerated(options, target, totals);
  } else {
    SendFile(options, target, totals);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const char* unit = options.Rate > 0 ? "messages" : "lines";
  std::fprintf(stderr, "sent %ld %s, %ld bytes in %.2f s (%.1f %s/s)\n", totals.Lines, unit,
               totals.Bytes, seconds,
               seconds > 0 ? static_cast<double>(totals.Lines) / seconds : 0.0, unit);
  if (options.Keep && !stopRequested) target.Hold();
  return 0;
}

}  // namespace
}  // namespace tarvel::sim

int main(int argc, char** argv) {
  return tarvel::sim::Run(argc, argv);
}
