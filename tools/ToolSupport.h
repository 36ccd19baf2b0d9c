// The one harness of the measuring tools (e2e_benchmark, soak_driver) and the integration tests:
// loopback sockets and clients, equipment peers, program folders, child processes and /proc
// readings. Blocking POSIX calls with deadlines: these are test drivers, not part of the gateway.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "SimSupport.h"

namespace tarvel::tools {

using sim::ListenTcp;
using sim::WriteAll;

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch())
      .count();
}

inline sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A listening socket on 127.0.0.1; port 0 picks a free one (read it back with LocalPort).
inline int ListenLoopback(int port) {
  return ListenTcp(port, INADDR_LOOPBACK);
}

// An IPv4 or IPv6 address in digits with a port.
inline sockaddr_storage SocketAddress(const std::string& address, int port) {
  sockaddr_storage storage{};
  if (address.find(':') != std::string::npos) {
    auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&storage);
    ipv6->sin6_family = AF_INET6;
    ipv6->sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, address.c_str(), &ipv6->sin6_addr);
  } else {
    auto* ipv4 = reinterpret_cast<sockaddr_in*>(&storage);
    ipv4->sin_family = AF_INET;
    ipv4->sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &ipv4->sin_addr);
  }
  return storage;
}

// The local port of a socket, IPv4 or IPv6.
inline int LocalPort(int fd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

inline bool PortIsFree(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address = LoopbackAddress(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

// A port nothing uses just now, never the same twice in one run. It lies below the kernel's
// range for outgoing connections (32768 on), so that no connection of this or another test
// takes it as its own end before the listener that wants it binds it.
inline int FreePort() {
  static std::set<int> handedOut;
  static std::mt19937 random(std::random_device{}());
  for (;;) {
    const int port = std::uniform_int_distribution<int>(20000, 32000)(random);
    if (handedOut.count(port) == 0 && PortIsFree(port)) {
      handedOut.insert(port);
      return port;
    }
  }
}

inline void SetNoDelay(int fd) {
  const int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// One connection attempt to an address in digits, from the local address `source` when one is
// given; -1 when refused.
inline int ConnectFrom(const std::string& address, int port, const std::string& source) {
  const sockaddr_storage target = SocketAddress(address, port);
  const int fd = socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (!source.empty()) {
    const sockaddr_storage from = SocketAddress(source, 0);
    bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return fd;
  close(fd);
  return -1;
}

// One connection attempt to 127.0.0.1; -1 when refused.
inline int ConnectOnce(int port) {
  return ConnectFrom("127.0.0.1", port, "");
}

// Retries every millisecond until the port accepts or the limit passes; -1 then.
inline int ConnectWithin(int port, std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  for (;;) {
    const int fd = ConnectOnce(port);
    if (fd >= 0 || SteadyClock::now() > deadline) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// -1 when no peer came within the limit.
inline int AcceptWithin(int listener, std::chrono::milliseconds limit) {
  pollfd waiting{listener, POLLIN, 0};
  if (poll(&waiting, 1, static_cast<int>(limit.count())) <= 0) return -1;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// Closes with a reset instead of an orderly close: unsent bytes are thrown away.
inline void CloseAbruptly(int fd) {
  const linger abrupt{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
  close(fd);
}

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = 5000ms) {
  const auto deadline = SteadyClock::now() + limit;
  while (!condition()) {
    if (SteadyClock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

// A temporary program folder, removed with its contents at the end unless kept.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "tarvel-it") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!keep_ && !path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }  // empty when the folder could not be made
  void Keep() { keep_ = true; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + name, std::ios::binary) << text;
  }
  // Every log file's lines (a run may cross midnight), CR LF removed, stamps kept.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(path_ + "LogFiles", error))
      files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::istringstream content(ReadWholeFile(file.string()));
      for (std::string line; std::getline(content, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
      }
    }
    return lines;
  }
  // The log lines without their 18-character time stamps (the separator has none).
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const std::string& line : LogLines())
      messages.push_back(line.starts_with("-") ? line
                                               : line.substr(std::min<size_t>(18, line.size())));
    return messages;
  }
  size_t CountMessages(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& message : Messages()) count += message.starts_with(prefix);
    return count;
  }
  bool WaitForMessage(const std::string& prefix, size_t count = 1) const {
    return WaitUntil([&] { return CountMessages(prefix) >= count; });
  }

 private:
  std::string path_;
  bool keep_ = false;
};

// A child process in a group of its own, its standard error (and standard output, unless
// told otherwise) written to a file; stopped with SIGTERM (SIGKILL after a second) at the end.
// Started from the main thread, it never outlives the process that started it: a test killed
// on a timeout, where no destructor runs, takes its child with it (the kernel sends SIGKILL when
// the parent dies). The kernel ties that signal to the forking thread, so a child started from
// another thread (the soak's restarts) lives on until stopped.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> words, const std::string& outputPath,
               const std::map<std::string, std::string>& environment = {},
               bool standardOutputToo = true)
      : outputPath_(outputPath) {
    const pid_t parent = getpid();
    const bool fromMainThread = gettid() == parent;
    pid_ = fork();
    if (pid_ != 0) return;
    // Kept across exec. A parent that died before the call is not signalled: ask again.
    if (fromMainThread && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent))
      _exit(127);
    setpgid(0, 0);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("NOTIFY_SOCKET");
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(null, 0);
    dup2(standardOutputToo ? output : null, 1);
    dup2(output, 2);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  void Signal(int signalNumber) const { kill(pid_, signalNumber); }
  // The exit status once the process has ended within the limit; -1 for a signal death.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit = 5000ms) {
    if (pid_ <= 0 || status_) return status_;
    WaitUntil(
        [&] {
          int status = 0;
          if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
          status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          return true;
        },
        limit);
    return status_;
  }
  bool Running() { return pid_ > 0 && !WaitForExit(0ms).has_value(); }
  void Stop(int firstSignal = SIGTERM) {
    if (!Running()) return;
    Signal(firstSignal);
    if (WaitForExit(1000ms)) return;
    Signal(SIGKILL);
    WaitForExit(60s);
  }
  std::string Output() const { return ReadWholeFile(outputPath_); }

 private:
  std::string outputPath_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A "Name:   1234 kB" line of /proc/<pid>/status, in kB; -1 when missing.
inline int64_t ProcStatusKb(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(name + ":", 0) == 0) return std::atoll(line.c_str() + name.size() + 1);
  }
  return -1;
}

// User plus system CPU time of the process, in clock ticks (sysconf(_SC_CLK_TCK) per second).
inline int64_t CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t afterName = text.rfind(')');
  if (afterName == std::string::npos) return -1;
  std::istringstream fields(text.substr(afterName + 2));
  std::string field;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int number = 3; number < 14; ++number) fields >> field;
  int64_t user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

// Whether a log file of the program folder holds the text.
inline bool LogHolds(const std::string& folder, const std::string& text) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder + "LogFiles", error)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
    if (content.find(text) != std::string::npos) return true;
  }
  return false;
}

// The gateway beside the tools folder of a build tree, unless named.
inline std::string GatewayBesideTools(const char* override) {
  if (override != nullptr) return override;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (self.parent_path().parent_path() / "tarvel80import").string();
}

// A blocking loopback client with deadlines on every wait.
class Client {
 public:
  // Retries until the gateway listens or the limit passes.
  explicit Client(int port) : Client("127.0.0.1", port) {}
  // To an IPv4 or IPv6 address in digits, from the local address `source` when one is given.
  Client(const std::string& address, int port, const std::string& source = "",
         std::chrono::milliseconds limit = 5000ms) {
    WaitUntil([&] { return (fd_ = ConnectFrom(address, port, source)) >= 0; }, limit);
  }
  static sockaddr_storage SocketAddress(const std::string& address, int port) {
    return tools::SocketAddress(address, port);
  }
  // Takes over a connected socket, for example one the test accepted from the gateway.
  struct Adopt {};
  Client(Adopt, int fd) : fd_(fd) {}
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // This end's port: the peer port that the gateway sees and logs.
  int LocalPort() const { return tools::LocalPort(fd_); }
  void Send(const std::string& text) const {
    [[maybe_unused]] const ssize_t sent = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // Reads until the text holds `until` or the peer closes or the limit passes.
  std::string ReadUntil(const std::string& until, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = SteadyClock::now() + limit;
    while (received_.find(until) == std::string::npos && !closed_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
      pollfd waiting{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[4096];
      const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) closed_ = true;
      if (count > 0) received_.append(buffer, static_cast<size_t>(count));
    }
    return received_;
  }
  // A small receive buffer, so that what this end has not read stays with the sender.
  void ShrinkReceiveBuffer(int bytes) const {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  // Reads what is there, at most `count` bytes, without waiting.
  void ReadAtMost(size_t count) {
    std::string buffer(count, '\0');
    const ssize_t got = recv(fd_, buffer.data(), count, MSG_DONTWAIT);
    if (got == 0) closed_ = true;
    if (got > 0) received_.append(buffer.data(), static_cast<size_t>(got));
  }
  const std::string& Received() const { return received_; }
  bool WaitForClose(std::chrono::milliseconds limit = 5000ms) {
    ReadUntil(std::string(1, '\0') + "never", limit);
    return closed_;
  }

 private:
  int fd_ = -1;
  std::string received_;
  bool closed_ = false;
};

// Plays equipment behind a TCP client port: listens on a loopback port for the gateway.
class Listener {
 public:
  // Port 0 picks a free port.
  explicit Listener(int port = 0) : fd_(ListenLoopback(port)), port_(tools::LocalPort(fd_)) {}
  ~Listener() { close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return port_; }
  // The next connection of the gateway, or nullptr when none came within the limit.
  std::unique_ptr<Client> Accept(std::chrono::milliseconds limit = 5000ms) const {
    const int connection = AcceptWithin(fd_, limit);
    return connection < 0 ? nullptr : std::make_unique<Client>(Client::Adopt{}, connection);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Plays equipment on a serial line: the gateway opens the slave end of a pseudo-terminal as
// its COM port, the driver writes to the master end. The slave stays open here too, so that
// the line keeps its raw settings and never hangs up.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    char name[256] = "";
    termios raw{};
    cfmakeraw(&raw);
    openpty(&master_, &slave_, name, &raw, nullptr);
    slavePath_ = name;
  }
  ~PseudoTerminal() {
    close(master_);
    close(slave_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  void Send(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t written = write(master_, bytes.data(), bytes.size());
      if (written <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(written));
    }
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// Writes text in pieces of `size` bytes with a pause between them, as slow equipment or a
// fragmenting network would deliver it.
template <typename Equipment>
void SendInPieces(const Equipment& equipment, const std::string& text, size_t size,
                  std::chrono::milliseconds pause = 3ms) {
  for (size_t offset = 0; offset < text.size(); offset += size) {
    if (offset > 0) std::this_thread::sleep_for(pause);
    equipment.Send(text.substr(offset, size));
  }
}

inline double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

}  // namespace tarvel::tools
