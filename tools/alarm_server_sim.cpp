// Plays the Ostrel alarm server: connects to the gateway's alarm-server port, prints every
// line it receives and counts them.

#include <sys/time.h>
#include <time.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "SimSupport.h"

namespace tarvel::sim {
namespace {

const char* const Usage = R"(Usage: alarm_server_sim [HOST:PORT] [OPTIONS]

Plays the Ostrel alarm server: connects to the gateway (default 127.0.0.1:14000, the
gateway's OstrelPort), prints every line received and counts the lines.

  --connect HOST:PORT  the gateway's address (same as the first argument)
  --raw                print the received bytes unchanged; otherwise bytes below 0x20
                       (except the line end), 0x7F, 0x80 and above, and the backslash
                       are shown as \xNN
  --time               start every printed line with the local time it arrived
                       (HH:MM:SS.mmm)
  --quiet              print no lines, only counts
  --every N            print the count every N seconds (to stderr)
  --lines N            end after N lines
  --reconnect S        when the connection fails or closes, connect again after S
                       seconds (default: end)
  --help               show this text

The count (all lines, and how many of them were watchdog lines "1|||tag") goes to stderr
at the end; Ctrl+C ends.
)";

struct Options {
  HostPort Address{"127.0.0.1", 14000};
  bool Raw = false;
  bool Time = false;
  bool Quiet = false;
  long EverySeconds = 0;
  long MaxLines = 0;
  long ReconnectSeconds = -1;
};

[[noreturn]] void Fail(const char* text, const char* detail = "") {
  std::fprintf(stderr, "alarm_server_sim: %s%s\n(see --help)\n", text, detail);
  std::exit(2);
}

void SetAddress(Options& options, const char* text) {
  const auto address = ParseHostPort(text);
  if (!address) Fail("expected HOST:PORT, not ", text);
  options.Address = *address;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
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
      SetAddress(options, value());
    } else if (option == "--raw") {
      options.Raw = true;
    } else if (option == "--time") {
      options.Time = true;
    } else if (option == "--quiet") {
      options.Quiet = true;
    } else if (option == "--every") {
      options.EverySeconds = NumberArgument("--every", value(), 1);
    } else if (option == "--lines") {
      options.MaxLines = NumberArgument("--lines", value(), 1);
    } else if (option == "--reconnect") {
      options.ReconnectSeconds = NumberArgument("--reconnect", value(), 0);
    } else if (option.rfind("--", 0) != 0) {
      SetAddress(options, argv[i]);
    } else {
      Fail("unknown option ", option.c_str());
    }
  }
  return options;
}

std::string Printable(const std::string& line) {
  std::string shown;
  for (const char c : line) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20 || code >= 0x7F || code == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", code);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string LocalTimeNow() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  const size_t length = std::strftime(text, sizeof text, "%H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03ld ", now.tv_usec / 1000);
  return text;
}

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class Receiver {
 public:
  explicit Receiver(const Options& options) : options_(options) {}

  // Reads from the connection until it closes, a stop is requested or enough lines came.
  // True when the reading ended because the connection closed or failed.
  bool Serve(int fd) {
    double nextCount = MonotonicSeconds() + static_cast<double>(options_.EverySeconds);
    while (!stopRequested && !Done()) {
      pollfd waiting{fd, POLLIN, 0};
      const int ready = poll(&waiting, 1, 200);
      if (options_.EverySeconds > 0 && MonotonicSeconds() >= nextCount) {
        PrintCount();
        nextCount += static_cast<double>(options_.EverySeconds);
      }
      if (ready <= 0) continue;
      char buffer[65536];
      const ssize_t count = read(fd, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        FlushUnfinished();
        return true;
      }
      Take(std::string(buffer, static_cast<size_t>(count)));
    }
    return false;
  }

  bool Done() const { return options_.MaxLines > 0 && lines_ >= options_.MaxLines; }

  void PrintCount() const {
    std::fprintf(stderr, "received %ld lines (%ld watchdog)\n", lines_, watchdogLines_);
  }

 private:
  void Take(const std::string& bytes) {
    if (options_.Raw && !options_.Quiet) {
      std::fwrite(bytes.data(), 1, bytes.size(), stdout);
      std::fflush(stdout);
    }
    pending_ += bytes;
    size_t end = 0;
    while (!Done() && (end = pending_.find('\n')) != std::string::npos) {
      Count(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
  }

  void Count(const std::string& line) {
    ++lines_;
    // An event line has "||||" before its text; a watchdog line is "1|||" and the tag only.
    if (line.rfind("1|||", 0) == 0 && line.find("||||", 4) == std::string::npos) ++watchdogLines_;
    if (options_.Raw || options_.Quiet) return;
    std::printf("%s%s\n", options_.Time ? LocalTimeNow().c_str() : "", Printable(line).c_str());
    std::fflush(stdout);
  }

  void FlushUnfinished() {
    if (pending_.empty() || options_.Raw || options_.Quiet) return;
    std::printf("%s (unfinished line)\n", Printable(pending_).c_str());
    pending_.clear();
  }

  const Options& options_;
  std::string pending_;
  long lines_ = 0;
  long watchdogLines_ = 0;
};

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  InstallStopHandlers();
  Receiver receiver(options);
  int result = 0;
  while (!stopRequested && !receiver.Done()) {
    const int fd = ConnectTcp(options.Address);
    if (fd >= 0) {
      std::fprintf(stderr, "connected to %s:%d\n", options.Address.Host.c_str(),
                   options.Address.Port);
      const bool closed = receiver.Serve(fd);
      close(fd);
      if (closed) std::fprintf(stderr, "the gateway closed the connection\n");
    }
    if (stopRequested || receiver.Done()) break;
    if (options.ReconnectSeconds < 0) {
      result = fd >= 0 ? 0 : 1;
      break;
    }
    timespec pause{options.ReconnectSeconds, 0};
    nanosleep(&pause, nullptr);
  }
  receiver.PrintCount();
  return result;
}

}  // namespace
}  // namespace tarvel::sim

int main(int argc, char** argv) {
  return tarvel::sim::Run(argc, argv);
}
