#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tarvel::integration {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = 5000ms) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
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

// A temporary program folder, removed with its contents at the end.
class ProgramFolder {
 public:
  ProgramFolder() {
    char pattern[] = "/tmp/tarvel-it-XXXXXX";
    path_ = std::string(mkdtemp(pattern)) + "/";
  }
  ~ProgramFolder() { std::filesystem::remove_all(path_); }
  const std::string& Path() const { return path_; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + name, std::ios::binary) << text;
  }
  // Every log file's lines (a test may run across midnight), CR LF removed, stamps kept.
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
      messages.push_back(line.rfind("-", 0) == 0 ? line
                                                 : line.substr(std::min<size_t>(18, line.size())));
    return messages;
  }
  size_t CountMessages(const std::string& prefix) const {
    size_t count = 0;
    for (const std::string& message : Messages()) count += message.rfind(prefix, 0) == 0;
    return count;
  }
  bool WaitForMessage(const std::string& prefix, size_t count = 1) const {
    return WaitUntil([&] { return CountMessages(prefix) >= count; });
  }

 private:
  std::string path_;
};

// The gateway executable running as a child process, killed at the end if still running.
class GatewayProcess {
 public:
  GatewayProcess(const ProgramFolder& folder, std::vector<std::string> arguments,
                 std::map<std::string, std::string> environment = {})
      : stderrPath_(folder.Path() + "stderr-" + std::to_string(++count_) + ".txt") {
    std::vector<std::string> words{GATEWAY_EXECUTABLE};
    words.insert(words.end(), arguments.begin(), arguments.end());
    pid_ = fork();
    if (pid_ == 0) {
      unsetenv("NOTIFY_SOCKET");
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      const int err = open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~GatewayProcess() {
    if (!status_ && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int signalNumber) const { kill(pid_, signalNumber); }
  // The exit status once the process has ended within the limit; -1 for a signal death.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit = 5000ms) {
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
  bool Running() { return !WaitForExit(0ms).has_value(); }
  pid_t Pid() const { return pid_; }
  std::string StandardError() const { return ReadWholeFile(stderrPath_); }

 private:
  static inline int count_ = 0;
  std::string stderrPath_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A TCP port on the loopback interface that nothing listens on just now, never the same twice
// in one test run (the kernel may hand out a just-closed port again).
inline int FreePort() {
  static std::set<int> handedOut;
  for (;;) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    const int port = ntohs(address.sin_port);
    if (handedOut.insert(port).second) return port;
  }
}

inline bool PortIsFree(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

// A blocking loopback client with deadlines on every wait.
class Client {
 public:
  // Retries until the gateway listens or the limit passes.
  explicit Client(int port) : Client("127.0.0.1", port) {}
  // To an IPv4 or IPv6 address in digits, from the local address `source` when one is given.
  Client(const std::string& address, int port, const std::string& source = "",
         std::chrono::milliseconds limit = 5000ms) {
    WaitUntil(
        [&] {
          const sockaddr_storage target = SocketAddress(address, port);
          fd_ = socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
          if (!source.empty()) {
            const sockaddr_storage from = SocketAddress(source, 0);
            bind(fd_, reinterpret_cast<const sockaddr*>(&from), sizeof from);
          }
          if (connect(fd_, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
            return true;
          close(fd_);
          fd_ = -1;
          return false;
        },
        limit);
  }
  static sockaddr_storage SocketAddress(const std::string& address, int port) {
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
  // This end's port: the peer port that the gateway sees and logs (IPv4 or IPv6).
  int LocalPort() const {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
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
  void Send(const std::string& text) const {
    [[maybe_unused]] const ssize_t sent = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // Reads until the text holds `until` or the peer closes or the limit passes.
  std::string ReadUntil(const std::string& until, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = Clock::now() + limit;
    while (received_.find(until) == std::string::npos && !closed_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, static_cast<int>(left)) <= 0) break;
      char buffer[4096];
      const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) {
        closed_ = true;
      } else {
        received_.append(buffer, static_cast<size_t>(count));
      }
    }
    return received_;
  }
  bool WaitForClose(std::chrono::milliseconds limit = 5000ms) {
    ReadUntil(std::string(1, '\0') + "never", limit);
    return closed_;
  }

 private:
  int fd_ = -1;
  std::string received_;
  bool closed_ = false;
};

}  // namespace tarvel::integration
