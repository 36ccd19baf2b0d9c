// Soak of the gateway under faults, on loopback, for a bounded time (tools/soak.sh runs it).
//
// Eight input ports: 0-3 TCP servers (the driver connects as equipment; port 3 speaks the
// multi-line format), 4-6 TCP clients (the driver listens for the gateway), 7 a pseudo-terminal
// serial line. The equipment sends at changing rates, splits lines at random, closes orderly or
// with a reset (sometimes in the middle of a line) and comes back; bursts of connection
// requests hit connected server ports. An alarm server disconnects and reconnects every few
// seconds (orderly, with a reset, or by a replacing connection). During every third orderly or
// reset outage the gateway is killed (SIGKILL) and started again: it keeps lines in a keep file
// with a limit far above what an outage produces, so every line kept before the kill must
// arrive after the restart.
//
// Every event carries its port and a sequence number in its tag. Checks:
//   - every line the alarm server receives is a known line, byte for byte as expected;
//   - no event arrives twice, and each port's events arrive in sending order;
//   - an event goes missing only if it was sent within a window around an alarm-server
//     disconnect or a gateway kill (or was cut off by the equipment's own reset), and of the
//     events sent while the alarm server was away, those within the keeping limit arrive
//     after the reconnect, across kills too;
//   - no data of a refused connection request arrives;
//   - the gateway's resident memory stays flat; every log line is well formed.
// Prints a summary; exit status 1 on any violation.
//
//   soak_driver [--minutes M] [--gateway PATH] [--keep]
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "ToolSupport.h"

namespace tarvel::tools {
namespace {

using Ms = std::chrono::milliseconds;

constexpr int PortCount = 8;
constexpr int MultiLinePort = 3;
constexpr int SerialPort = 7;
constexpr size_t KeepLimit = 256u << 20;
// Sent within this span of an alarm-server disconnect or reconnect, an event may be lost in
// flight (handed to a socket the peer then closes) or dropped past the keeping limit.
constexpr int64_t RaceMarginNs = 500'000'000;
// Slack for the order in which the gateway met lines of different ports that were sent at
// nearly the same time, when deciding which kept lines were certainly within the limit.
constexpr size_t KeepSlackBytes = 4096;
// A multi-line event becomes a line at the next header or at the tick about 1.1 s after its
// header, so the gateway makes its line up to this long after its last byte came.
constexpr int64_t MultiLineDelayNs = 1'300'000'000;
// Before a kill: what the killed process had not read from its sockets yet, or a multi-line
// event it was still collecting (its tick may come late on a loaded machine), dies with it.
constexpr int64_t KillMarginNs = 2'000'000'000;

bool IsServerPort(int port) {
  return port <= MultiLinePort;
}
bool IsClientPort(int port) {
  return port > MultiLinePort && port < SerialPort;
}

struct SentEvent {
  uint32_t seq = 0;
  std::string expected;    // the alarm-server line it must become
  int64_t doneNs = 0;      // its last byte handed to the socket
  bool abandoned = false;  // cut off by the equipment's reset: never complete
  // When its connection was opened (never for the serial line): a kill after that breaks the
  // connection, and what the equipment writes before it notices goes to a dead peer.
  int64_t openedNs = INT64_MAX;
};

struct Received {
  std::string line;
  int64_t ns = 0;
};

struct Disconnect {
  int64_t awayNs = 0;  // the alarm server closed (or a replacing connection was made)
  int64_t backNs = 0;  // connected again
};

// A gateway kill: from the kill until the new process has opened every port.
struct Kill {
  int64_t killedNs = 0;
  int64_t upNs = 0;
};

// What the driver did and saw, read by the check after every thread has ended.
struct Record {
  std::array<std::vector<SentEvent>, PortCount> sent;
  std::vector<Received> received;  // in arrival order, one connection after the other
  std::vector<Disconnect> disconnects;
  std::mutex killMutex;
  std::vector<Kill> kills;
  // The gateway closed an equipment connection: when, when that connection was opened, and on
  // which port.
  struct EquipmentClose {
    int64_t closedNs, openedNs;
    int port;
  };
  std::vector<EquipmentClose> equipmentCloses;
  std::atomic<uint64_t> burstRequests{0};
  std::atomic<uint64_t> equipmentDrops{0};
  std::atomic<uint64_t> unexpectedCloses{0};
  std::mutex unexpectedMutex;
  std::vector<std::string> unexpected;
};

std::atomic<bool> stopping{false};

// ---- Event texts ----

const char* const Months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::string Two(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

std::string Tag(int port, uint32_t seq) {
  char text[32];
  std::snprintf(text, sizeof text, "P%d-S%07u", port, seq);
  return text;
}

// Printable text with single blanks inside, a "|" and Latin-1 letters now and then.
std::string RandomText(std::mt19937& random, int port, uint32_t seq) {
  static const char* const words[] = {"Door",   "forced", "open",  "Zone", "fire",   "smoke",
                                      "Hall|2", "\xC4rm", "b\xF6", "x",    "sensor", "low"};
  std::string text = "soak p" + std::to_string(port) + " s" + std::to_string(seq);
  const int count = std::uniform_int_distribution<int>(0, 8)(random);
  for (int i = 0; i < count; ++i) text += std::string(" ") + words[random() % 12];
  return text;
}

// One single-line message and the line the gateway makes of it.
std::pair<std::string, std::string> SingleLineEvent(std::mt19937& random, int port, uint32_t seq) {
  static const char* const types[] = {"NORMAL", "ALARM", "DELAY", "ACKNOW", "alarm", "Normal"};
  static const char* const codes[] = {"0", "1", "1", "2", "1", "0"};
  const int type = static_cast<int>(random() % 6);
  const int day = 1 + static_cast<int>(random() % 28), month = 1 + static_cast<int>(random() % 12);
  const int year = 2000 + static_cast<int>(random() % 40);
  const int hour = static_cast<int>(random() % 24), minute = static_cast<int>(random() % 60);
  const int second = static_cast<int>(random() % 60);
  std::string tag = Tag(port, seq);
  const std::string text = RandomText(random, port, seq);
  std::string input = std::string(types[type]) + " " + Two(day) + "-" + Two(month) + "-" +
                      std::to_string(year) + " " + Two(hour) + ":" + Two(minute) + ":" +
                      Two(second) + " " + tag + std::string(18 - tag.size(), ' ') + text + "\r\n";
  std::string output = std::string(codes[type]) + "|" + std::to_string(year) + "-" + Two(month) +
                       "-" + Two(day) + "|" + Two(hour) + ":" + Two(minute) + ":" + Two(second) +
                       "|" + tag + "||||" + text + "\n";
  return {input, output};
}

// A header with a time stamp and one to three text lines, and the line the gateway makes.
std::pair<std::string, std::string> MultiLineEvent(std::mt19937& random, int port, uint32_t seq) {
  const bool ack = random() % 2 == 0, alarm = random() % 2 == 0;
  const int day = 1 + static_cast<int>(random() % 28), month = static_cast<int>(random() % 12);
  const int year = static_cast<int>(random() % 40);
  const int hour = static_cast<int>(random() % 24), minute = static_cast<int>(random() % 60);
  const int second = static_cast<int>(random() % 60);
  const std::string words = std::string(ack ? "ACK" : "NACK") + " " + (alarm ? "ALARM" : "NORMAL");
  const std::string tag = Tag(port, seq);
  std::string input = words + " " + Two(day) + "-" + Months[month] + "-" + Two(year) + " " +
                      Two(hour) + ":" + Two(minute) + ":" + Two(second) + " " + tag + "\r\n";
  std::string body;
  const int lines = 1 + static_cast<int>(random() % 3);
  for (int i = 0; i < lines; ++i) {
    const std::string text = "line" + std::to_string(i) + " of " + tag;
    input += text + "\r\n";
    body += (i > 0 ? " " : "") + text;
  }
  std::string output = std::string(alarm ? "1" : "0") + "|" + std::to_string(2000 + year) + "-" +
                       Two(month + 1) + "-" + Two(day) + "|" + Two(hour) + ":" + Two(minute) + ":" +
                       Two(second) + "|" + words + " " + tag + "||||" + body + "\n";
  return {input, output};
}

// ---- Equipment ----

struct PortLink {
  std::mutex busy;  // held by a burst; the equipment does not drop or reconnect meanwhile
  std::atomic<bool> connected{false};
  int gatewayPort = 0;               // server ports: where the gateway listens
  int listener = -1;                 // client ports: where the driver listens
  std::atomic<int64_t> openedNs{0};  // of the equipment's present connection
};

class Equipment {
 public:
  Equipment(int port, PortLink& link, Record& record, int serialFd)
      : port_(port), link_(link), record_(record), serialFd_(serialFd), random_(1000 + port) {}

  void Run() {
    while (!stopping) {
      if (!Open()) {
        std::this_thread::sleep_for(Ms(200));
        continue;
      }
      const int64_t until = NowNs() + Span(500, 8000) * 1'000'000;
      bool alive = true;
      while (alive && !stopping && NowNs() < until) alive = SendSome();
      if (port_ != SerialPort) Drop(alive);
    }
  }

 private:
  int64_t Span(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  bool Open() {
    if (port_ == SerialPort) {
      fd_ = serialFd_;
      return true;
    }
    std::lock_guard<std::mutex> hold(link_.busy);
    fd_ = IsServerPort(port_) ? ConnectOnce(link_.gatewayPort)
                              : AcceptWithin(link_.listener, Ms(3000));
    if (fd_ < 0) return false;
    SetNoDelay(fd_);
    // A server port that still counts its last peer as connected refuses: the gateway closes
    // the new connection at once, and the equipment tries again later.
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, 150) > 0) {
      close(fd_);
      fd_ = -1;
      return false;
    }
    link_.connected = true;
    openedNs_ = link_.openedNs = NowNs();
    return true;
  }

  // One spell of sending at a random rate; false when the gateway closed the connection.
  bool SendSome() {
    const int mode = static_cast<int>(random_() % 10);
    const int events = mode < 2   ? 0
                       : mode < 8 ? 1 + static_cast<int>(random_() % 5)
                                  : 20 + static_cast<int>(random_() % 180);
    std::string stream;
    std::vector<size_t> ends;
    for (int i = 0; i < events; ++i) {
      auto [input, output] = port_ == MultiLinePort ? MultiLineEvent(random_, port_, next_)
                                                    : SingleLineEvent(random_, port_, next_);
      record_.sent[port_].push_back({next_++, std::move(output), 0, false, openedNs_});
      stream += input;
      ends.push_back(stream.size());
    }
    if (!Write(stream, ends)) return false;
    std::this_thread::sleep_for(Ms(mode < 2 ? Span(100, 1500) : Span(5, 200)));
    return true;
  }

  // Writes the stream in random pieces, stamping each event as its last byte goes out.
  bool Write(const std::string& stream, const std::vector<size_t>& ends) {
    std::vector<SentEvent>& sent = record_.sent[port_];
    const size_t first = sent.size() - ends.size();
    size_t done = 0, event = 0;
    while (done < stream.size()) {
      const size_t piece = std::min<size_t>(stream.size() - done, 1 + random_() % 400);
      if (!WriteAll(fd_, std::string_view(stream).substr(done, piece))) {
        {
          // Expected only while the gateway is killed; checked against the kills at the end.
          std::lock_guard<std::mutex> hold(record_.unexpectedMutex);
          record_.equipmentCloses.push_back({NowNs(), openedNs_, port_});
        }
        for (size_t i = first + event; i < sent.size(); ++i) sent[i].abandoned = true;
        return false;
      }
      done += piece;
      const int64_t now = NowNs();
      while (event < ends.size() && ends[event] <= done) sent[first + event++].doneNs = now;
      if (random_() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(Span(1, 3000)));
    }
    return true;
  }

  void Drop(bool alive) {
    std::lock_guard<std::mutex> hold(link_.busy);
    link_.connected = false;
    ++record_.equipmentDrops;
    if (alive && random_() % 2 == 0) {
      // A reset, sometimes in the middle of a line (never in the middle of a multi-line event:
      // its pending lines would make a shorter event, not a lost one). What was handed to the
      // socket goes out before the reset; the unfinished line never forms an event.
      if (port_ != MultiLinePort && random_() % 2 == 0) {
        auto [input, output] = SingleLineEvent(random_, port_, next_);
        record_.sent[port_].push_back({next_++, output, NowNs(), true, openedNs_});
        WriteAll(fd_, std::string_view(input).substr(0, 1 + random_() % (input.size() - 2)));
      }
      WaitUntilSent();
      CloseAbruptly(fd_);
    } else {
      close(fd_);
    }
    fd_ = -1;
    std::this_thread::sleep_for(Ms(Span(100, 2000)));
  }

  void WaitUntilSent() {
    for (int i = 0; i < 1000; ++i) {
      int queued = 0;
      if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) return;
      std::this_thread::sleep_for(Ms(1));
    }
  }

  int port_;
  PortLink& link_;
  Record& record_;
  int serialFd_;
  std::mt19937 random_;
  int fd_ = -1;
  int64_t openedNs_ = INT64_MAX;
  uint32_t next_ = 1;
};

// Connection requests on server ports whose equipment is connected; each sends a line that
// must never reach the alarm server.
void Bursts(std::array<PortLink, PortCount>& links, Record& record) {
  std::mt19937 random(77);
  while (!stopping) {
    std::this_thread::sleep_for(Ms(1000 + random() % 3000));
    PortLink& link = links[random() % (MultiLinePort + 1)];
    std::lock_guard<std::mutex> hold(link.busy);
    if (!link.connected) continue;
    {
      // A kill since the equipment connected left the port free: a request would be taken.
      std::lock_guard<std::mutex> holdKills(record.killMutex);
      if (!record.kills.empty() && record.kills.back().killedNs > link.openedNs) continue;
    }
    const std::string junk = "ALARM 01-01-2020 10:00:00 BURST             refused data\r\n";
    const int count = 3 + static_cast<int>(random() % 15);
    for (int i = 0; i < count; ++i) {
      const int fd = ConnectOnce(link.gatewayPort);
      if (fd < 0) continue;
      ++record.burstRequests;
      WriteAll(fd, junk);
      close(fd);
    }
    // The equipment stays as it is until the gateway has refused every request.
    std::this_thread::sleep_for(Ms(500));
  }
}

// ---- The gateway process, killed and started again ----

size_t LogCount(const std::string& folder, const std::string& text) {
  size_t count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder + "LogFiles", error)) {
    std::ifstream file(entry.path(), std::ios::binary);
    for (std::string line; std::getline(file, line);) count += line.find(text) != line.npos;
  }
  return count;
}

class GatewayRunner {
 public:
  GatewayRunner(std::string executable, std::string folder, Record& record)
      : executable_(std::move(executable)), folder_(std::move(folder)), record_(record) {
    Start();
  }
  pid_t Pid() const { return pid_; }
  bool Running() {
    std::lock_guard<std::mutex> hold(mutex_);
    return process_->Running();
  }
  void Stop() {
    std::lock_guard<std::mutex> hold(mutex_);
    process_->Stop();
  }
  size_t Kills() const { return starts_ - 1; }

  // SIGKILL, then a new process; returns once it has opened its last port.
  void KillAndRestart() {
    std::lock_guard<std::mutex> hold(mutex_);
    Kill gap{NowNs(), 0};
    kill(process_->Pid(), SIGKILL);
    process_->Running();
    while (process_->Running()) std::this_thread::sleep_for(Ms(5));
    Start();
    while (LogCount(folder_, "Opened (7)") < starts_ && NowNs() - gap.killedNs < 20'000'000'000)
      std::this_thread::sleep_for(Ms(20));
    gap.upNs = NowNs();
    std::lock_guard<std::mutex> holdKills(record_.killMutex);
    record_.kills.push_back(gap);
  }

 private:
  void Start() {
    ++starts_;
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{executable_, "--headless", "--dir", folder_},
        folder_ + "output-" + std::to_string(starts_) + ".txt");
    pid_ = process_->Pid();
  }

  std::string executable_;
  std::string folder_;
  Record& record_;
  std::mutex mutex_;
  std::unique_ptr<ChildProcess> process_;
  std::atomic<pid_t> pid_{-1};
  size_t starts_ = 0;
};

// ---- Alarm server ----

class AlarmServer {
 public:
  AlarmServer(int port, Record& record, GatewayRunner& gateway)
      : port_(port), record_(record), gateway_(gateway) {}

  void Run() {
    fd_ = ConnectWithin(port_, Ms(10000));
    while (!stopping) {
      ReadFor(Ms(1500 + random_() % 4500));
      if (stopping) break;
      Leave();
    }
    // The end: connected, until the kept lines and the last events have arrived.
    ReadFor(Ms(3000));
    close(fd_);
  }

 private:
  void ReadFor(Ms span) {
    const auto until = SteadyClock::now() + span;
    while (SteadyClock::now() < until && fd_ >= 0) {
      if (!ReadOnce(100)) {
        std::lock_guard<std::mutex> hold(record_.unexpectedMutex);
        record_.unexpected.push_back("the gateway closed the alarm server's connection");
        close(fd_);  // connect again at once
        partial_.clear();
        record_.disconnects.push_back({NowNs(), 0});
        fd_ = ConnectWithin(port_, Ms(10000));
        record_.disconnects.back().backNs = NowNs();
      }
    }
  }

  // False when the gateway closed the connection.
  bool ReadOnce(int timeoutMs) {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) return true;
    char buffer[65536];
    const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
    if (count <= 0) return false;
    const int64_t now = NowNs();
    for (ssize_t i = 0; i < count; ++i) {
      partial_ += buffer[i];
      if (buffer[i] != '\n') continue;
      record_.received.push_back({std::move(partial_), now});
      partial_.clear();
    }
    return true;
  }

  // Goes away in one of three ways and comes back.
  void Leave() {
    const int how = static_cast<int>(random_() % 10);
    Disconnect gap{NowNs(), 0};
    if (how < 2) {
      // A new connection replaces this one; the gateway drops the old one itself.
      const int newer = ConnectWithin(port_, Ms(10000));
      const auto limit = SteadyClock::now() + Ms(2000);
      while (ReadOnce(100) && SteadyClock::now() < limit) {
      }
      close(fd_);
      partial_.clear();
      fd_ = newer;
    } else {
      if (how < 5) {
        CloseAbruptly(fd_);
      } else {
        close(fd_);
      }
      partial_.clear();  // a line cut by the close is lost in flight
      std::this_thread::sleep_for(Ms(random_() % 3000));
      if (++outages_ % 3 == 0) {
        // Lines are kept in the file meanwhile; those after the restart join them.
        std::this_thread::sleep_for(Ms(500 + random_() % 1500));
        gateway_.KillAndRestart();
        std::this_thread::sleep_for(Ms(random_() % 2000));
      }
      fd_ = ConnectWithin(port_, Ms(10000));
    }
    gap.backNs = NowNs();
    record_.disconnects.push_back(gap);
  }

  int port_;
  Record& record_;
  GatewayRunner& gateway_;
  int outages_ = 0;
  std::mt19937 random_{4242};
  int fd_ = -1;
  std::string partial_;
};

// ---- Checks ----

class Checker {
 public:
  explicit Checker(const Record& record) : record_(record) {}

  void CheckLines() {
    for (int port = 0; port < PortCount; ++port) {
      for (size_t i = 0; i < record_.sent[port].size(); ++i) {
        index_[Tag(port, record_.sent[port][i].seq)] = {port, i};
      }
    }
    static const std::regex tagPattern(
        R"(\|(?:(?:N?ACK (?:ALARM|NORMAL) )?)(P(\d)-S(\d{7}))\|\|\|\|)");
    static const std::regex supervision(
        R"(^[01]\|\|\|Soak port \d\|\|\|\|TARVEL80 Connection 'Soak port \d' \(\d\) .*\n$)");
    for (const Received& received : record_.received) {
      const std::string& line = received.line;
      if (line == "1|||SOAK-WD\n") {
        ++watchdogs_;
        continue;
      }
      if (std::regex_match(line, supervision)) {
        ++supervisionLines_;
        continue;
      }
      if (line.find("BURST") != std::string::npos) {
        Violation("data of a refused connection arrived", Printable(line));
        continue;
      }
      std::smatch match;
      const auto found =
          std::regex_search(line, match, tagPattern) ? index_.find(match[1].str()) : index_.end();
      if (found == index_.end()) {
        Violation("unknown line", Printable(line));
        continue;
      }
      const auto [port, position] = found->second;
      const SentEvent& event = record_.sent[port][position];
      if (line != event.expected) {
        Violation("changed line", Printable(line) + " expected " + Printable(event.expected));
      }
      if (++arrivals_[port][position] > 1) Violation("duplicate", Printable(line));
      if (static_cast<int64_t>(position) <= lastPosition_[port]) {
        Violation("out of order", match[1].str() + " after " +
                                      Tag(port, record_.sent[port][lastPosition_[port]].seq));
      }
      lastPosition_[port] = std::max<int64_t>(lastPosition_[port], position);
    }
  }

  void CheckLosses() {
    for (int port = 0; port < PortCount; ++port) {
      const auto& sent = record_.sent[port];
      for (size_t i = 0; i < sent.size(); ++i) {
        ++sentCount_;
        if (arrivals_[port].count(i) != 0) continue;
        if (sent[i].abandoned) {
          ++abandoned_;
        } else if (InKillWindow(sent[i].doneNs, Latest(port, sent[i])) ||
                   BrokenByKill(sent[i].openedNs, sent[i].doneNs)) {
          ++lostToKills_;
        } else if (!InRaceWindow(sent[i].doneNs, Latest(port, sent[i]))) {
          Violation("lost outside any alarm-server disconnect", Printable(sent[i].expected));
        } else if (CertainlyKept(port, i)) {
          Violation("kept line lost within the keeping limit", Printable(sent[i].expected));
        } else {
          ++lostInWindows_;
        }
      }
    }
  }

  // Counted by kind; the first few of each kind are shown.
  void Violation(const std::string& kind, const std::string& example) {
    auto& [count, examples] = violations_[kind];
    if (++count <= 5) examples.push_back(example);
    ++violationCount_;
  }

  void Print() const {
    uint64_t arrived = 0;
    for (const auto& port : arrivals_) arrived += port.size();
    std::printf(
        "events sent %llu, arrived %llu, lost in disconnect windows %llu, lost to gateway kills "
        "%llu, cut off by equipment resets %llu\n",
        ULL(sentCount_), ULL(arrived), ULL(lostInWindows_), ULL(lostToKills_), ULL(abandoned_));
    std::printf("other lines: %llu watchdog, %llu port failure/restore\n", ULL(watchdogs_),
                ULL(supervisionLines_));
    for (const auto& [kind, found] : violations_) {
      std::printf("VIOLATION: %s: %llu time(s), e.g.\n", kind.c_str(), ULL(found.first));
      for (const std::string& example : found.second) std::printf("    %s\n", example.c_str());
    }
  }
  uint64_t Violations() const { return violationCount_; }

 private:
  static unsigned long long ULL(uint64_t value) { return value; }

  static std::string Printable(const std::string& line) {
    std::string text;
    for (unsigned char c : line) {
      if (c == '\n') continue;
      if (c < 32 || c > 126) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        text += escaped;
      } else {
        text += static_cast<char>(c);
      }
    }
    return "\"" + text + "\"";
  }

  // The latest time at which the gateway made the event's line.
  static int64_t Latest(int port, const SentEvent& event) {
    return event.doneNs + (port == MultiLinePort ? MultiLineDelayNs : 0);
  }

  // Whether the event reached the gateway, at some time from `from` to `to`, near a kill: it
  // may have been unread in the killed process's socket, or its multi-line event unfinished.
  // Whether a kill came after the connection was opened and before (or shortly after) the
  // event was written on it.
  bool BrokenByKill(int64_t openedNs, int64_t writtenNs) const {
    for (const Kill& gap : record_.kills) {
      if (openedNs < gap.killedNs && writtenNs >= gap.killedNs - KillMarginNs) return true;
    }
    return false;
  }

  bool InKillWindow(int64_t from, int64_t to) const {
    for (const Kill& gap : record_.kills) {
      if (to >= gap.killedNs - KillMarginNs && from <= gap.upNs + RaceMarginNs) return true;
    }
    return false;
  }

 public:
  // An equipment connection the gateway closed, other than by being killed.
  void CheckEquipmentCloses() {
    for (const auto& [closed, opened, port] : record_.equipmentCloses) {
      if (!InKillWindow(closed, closed) && !BrokenByKill(opened, closed)) {
        // The wall-clock time, to be found in the gateway's log.
        const auto wall =
            std::chrono::system_clock::now() - std::chrono::nanoseconds(NowNs() - closed);
        const std::time_t seconds = std::chrono::system_clock::to_time_t(wall);
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&seconds));
        Violation("the gateway closed an equipment connection",
                  "port " + std::to_string(port) + " at " + stamp + ", " +
                      std::to_string((closed - opened) / 1'000'000) + " ms after it was opened");
      }
    }
  }

 private:
  // Whether the line was made, at some time from `from` to `to`, near a disconnect.
  bool InRaceWindow(int64_t from, int64_t to) const {
    for (const Disconnect& gap : record_.disconnects) {
      if (to >= gap.awayNs - RaceMarginNs && from <= gap.backNs + RaceMarginNs) return true;
    }
    return false;
  }

  // Sent while the alarm server was away (clear of the margins), with less than the keeping
  // limit of lines sent in that gap before it: the gateway must have kept it.
  bool CertainlyKept(int port, size_t index) {
    if (bytesByTime_.empty()) IndexBytesByTime();
    const int64_t from = record_.sent[port][index].doneNs;
    const int64_t to = Latest(port, record_.sent[port][index]);
    for (const Disconnect& gap : record_.disconnects) {
      if (from <= gap.awayNs + RaceMarginNs || to >= gap.backNs - RaceMarginNs) continue;
      const size_t before = BytesUpTo(to) - BytesUpTo(gap.awayNs - RaceMarginNs - 1);
      return before + KeepSlackBytes < KeepLimit;
    }
    return false;
  }

  // Output bytes of all events, added up in the order of their sending.
  void IndexBytesByTime() {
    for (const auto& events : record_.sent)
      for (const SentEvent& event : events)
        bytesByTime_.push_back({event.doneNs, event.expected.size()});
    std::sort(bytesByTime_.begin(), bytesByTime_.end());
    for (size_t i = 1; i < bytesByTime_.size(); ++i)
      bytesByTime_[i].second += bytesByTime_[i - 1].second;
  }
  size_t BytesUpTo(int64_t ns) const {
    const auto after =
        std::upper_bound(bytesByTime_.begin(), bytesByTime_.end(), std::make_pair(ns, SIZE_MAX));
    return after == bytesByTime_.begin() ? 0 : std::prev(after)->second;
  }

  const Record& record_;
  std::map<std::string, std::pair<int, size_t>> index_;
  std::vector<std::pair<int64_t, size_t>> bytesByTime_;
  std::array<std::map<size_t, int>, PortCount> arrivals_;
  std::array<int64_t, PortCount> lastPosition_{-1, -1, -1, -1, -1, -1, -1, -1};
  std::map<std::string, std::pair<uint64_t, std::vector<std::string>>> violations_;
  uint64_t violationCount_ = 0, sentCount_ = 0, lostInWindows_ = 0, abandoned_ = 0;
  uint64_t lostToKills_ = 0;
  uint64_t watchdogs_ = 0, supervisionLines_ = 0;
};

// Every log line: "YY-MM-DD HH:NN:SS text", or a separator line starting with "-".
uint64_t CheckLog(const std::string& folder, std::map<std::string, uint64_t>& counts,
                  std::vector<std::string>& bad) {
  static const std::regex wellFormed(R"(^\d\d-\d\d-\d\d \d\d:\d\d:\d\d .+$)");
  static const char* const counted[] = {"refused from",
                                        "accepted from",
                                        "was established",
                                        "was closed",
                                        "failed (",
                                        "Accepted Ostrel",
                                        "Ostrel connection was closed",
                                        "Ostrel connection failed",
                                        "Invalid event type",
                                        "Unknown event type"};
  uint64_t lines = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder + "LogFiles", error)) {
    std::ifstream file(entry.path(), std::ios::binary);
    for (std::string line; std::getline(file, line);) {
      ++lines;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!std::regex_match(line, wellFormed) && line.rfind("-", 0) != 0) bad.push_back(line);
      for (const char* text : counted) counts[text] += line.find(text) != std::string::npos;
    }
  }
  return lines;
}

// ---- Set-up ----

struct Options {
  double minutes = 10;
  const char* gateway = nullptr;
  bool keep = false;
};

std::string Ini(int ostrelPort, const std::array<PortLink, PortCount>& links,
                const std::string& serialPath) {
  std::string ini = "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                    "\nReconnectInterval=1\nWatchDogTagName=SOAK-WD\nWatchDogInterval=5\n"
                    "BufferIfOstrelNotConnected=1\nKeepFile=kept.dat\nKeepLimit=" +
                    std::to_string(KeepLimit) + "\n[SerialDevices]\nCOM7=" + serialPath + "\n";
  for (int port = 0; port < PortCount; ++port) {
    ini += "[TARVEL80_Port_" + std::to_string(port) + "]\nDescription=Soak port " +
           std::to_string(port) + "\nPollFailTimeout=" + (port % 4 == 0 ? "4" : "0") +
           "\nPollFailRemindTime=3\n";
    if (IsServerPort(port)) {
      ini += "PortType=TCPS\nListenPort=" + std::to_string(links[port].gatewayPort) + "\n";
    } else if (IsClientPort(port)) {
      ini += "PortType=TCPC\nRemoteAddress=127.0.0.1:" +
             std::to_string(LocalPort(links[port].listener)) + "\n";
    } else {
      ini += "PortType=COM\nComSetting=COM7,9600,N,8,1,0\n";
    }
  }
  return ini;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--keep") options.keep = true;
    if (i + 1 >= argc) continue;
    if (name == "--minutes") options.minutes = std::atof(argv[++i]);
    if (name == "--gateway") options.gateway = argv[++i];
  }
  return options;
}

// Samples VmRSS every 10 s while the soak runs.
std::vector<int64_t> SampleMemory(const GatewayRunner& gateway, int64_t untilNs) {
  std::vector<int64_t> samples;
  while (NowNs() < untilNs) {
    std::this_thread::sleep_for(Ms(10000));
    samples.push_back(ProcStatusKb(gateway.Pid(), "VmRSS"));
  }
  return samples;
}

}  // namespace
}  // namespace tarvel::tools

int main(int argc, char** argv) {
  using namespace tarvel::tools;
  signal(SIGPIPE, SIG_IGN);
  const Options options = ParseOptions(argc, argv);
  TempFolder folder("soak");
  if (options.keep) folder.Keep();

  int master = -1, slave = -1;
  char slaveName[256] = {};
  if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 2;
  }
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);

  std::array<PortLink, PortCount> links;
  for (int port = 0; port < PortCount; ++port) {
    if (IsServerPort(port)) links[port].gatewayPort = FreePort();
    if (IsClientPort(port)) links[port].listener = ListenLoopback(0);
  }
  const int ostrelPort = FreePort();
  folder.Write("TARVEL80Import.ini", Ini(ostrelPort, links, slaveName));
  Record record;
  GatewayRunner gateway(GatewayBesideTools(options.gateway), folder.Path(), record);
  std::printf("soak: %.1f min, gateway pid %d, folder %s\n", options.minutes, gateway.Pid(),
              folder.Path().c_str());
  std::fflush(stdout);

  AlarmServer alarmServer(ostrelPort, record, gateway);
  std::thread alarmThread([&] { alarmServer.Run(); });
  // The serial line is read from its opening on: the equipment starts once every port is set up.
  for (int i = 0; i < 100 && !LogHolds(folder.Path(), "Opened (7)"); ++i)
    std::this_thread::sleep_for(Ms(100));
  std::vector<std::unique_ptr<Equipment>> equipment;
  std::vector<std::thread> threads;
  for (int port = 0; port < PortCount; ++port) {
    equipment.push_back(std::make_unique<Equipment>(port, links[port], record, master));
    threads.emplace_back([&, port] { equipment[port]->Run(); });
  }
  std::thread burstThread([&] { Bursts(links, record); });
  const int64_t endNs = NowNs() + static_cast<int64_t>(options.minutes * 60e9);
  const std::vector<int64_t> memory = SampleMemory(gateway, endNs);
  stopping = true;
  for (std::thread& thread : threads) thread.join();
  burstThread.join();
  alarmThread.join();
  const bool stillRunning = gateway.Running();
  gateway.Stop();

  Checker checker(record);
  checker.CheckLines();
  checker.CheckLosses();
  checker.CheckEquipmentCloses();
  std::map<std::string, uint64_t> counts;
  std::vector<std::string> badLog;
  const uint64_t logLines = CheckLog(folder.Path(), counts, badLog);

  std::printf(
      "alarm-server disconnects %zu, gateway kills %zu, equipment drops %llu, refused-burst "
      "requests %llu, lines received %zu\n",
      record.disconnects.size(), gateway.Kills(),
      static_cast<unsigned long long>(record.equipmentDrops),
      static_cast<unsigned long long>(record.burstRequests), record.received.size());
  checker.Print();
  uint64_t violations = checker.Violations();
  for (const std::string& what : record.unexpected) {
    std::printf("VIOLATION: %s\n", what.c_str());
    ++violations;
  }
  std::printf("log: %llu lines;", static_cast<unsigned long long>(logLines));
  for (const auto& [text, count] : counts)
    std::printf(" \"%s\" %llu;", text.c_str(), static_cast<unsigned long long>(count));
  std::printf("\n");
  for (size_t i = 0; i < badLog.size() && i < 10; ++i)
    std::printf("VIOLATION: malformed log line: %s\n", badLog[i].c_str());
  violations += badLog.size();
  // A kill can cut a serial line in two: the new process reads its rest as a line of its own.
  if (counts["Invalid event type"] + counts["Unknown event type"] > gateway.Kills()) {
    std::printf("VIOLATION: the gateway rejected input lines (all sent lines are valid)\n");
    ++violations;
  }
  if (!memory.empty()) {
    const int64_t peak = *std::max_element(memory.begin(), memory.end());
    std::printf("VmRSS kB: first %lld, last %lld, max %lld (%zu samples)\n",
                static_cast<long long>(memory.front()), static_cast<long long>(memory.back()),
                static_cast<long long>(peak), memory.size());
    if (memory.back() - memory.front() > 8 * 1024) {
      std::printf("VIOLATION: resident memory grew by more than 8 MB\n");
      ++violations;
    }
  }
  if (!stillRunning) {
    std::printf("VIOLATION: the gateway ended during the soak (see %soutput-*.txt)\n",
                folder.Path().c_str());
    ++violations;
  }
  std::printf("%s: %llu violation(s)\n", violations == 0 ? "PASS" : "FAIL",
              static_cast<unsigned long long>(violations));
  if (violations > 0) folder.Keep();
  return violations == 0 ? 0 : 1;
}
