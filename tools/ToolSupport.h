// Loopback sockets, child processes and /proc readings shared by the measuring tools
// (e2e_benchmark, soak_driver). Blocking POSIX calls: these programs are test drivers, not part
// of the gateway.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimSupport.h"

namespace tarvel::tools {

using sim::ListenTcp;
using sim::WriteAll;

using SteadyClock = std::chrono::steady_clock;

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

inline int LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A port nothing listens on just now.
inline int FreePort() {
  const int fd = ListenLoopback(0);
  const int port = LocalPort(fd);
  close(fd);
  return port;
}

inline void SetNoDelay(int fd) {
  const int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// One connection attempt; -1 when refused.
inline int ConnectOnce(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
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

// A temporary folder, removed with its contents at the end unless kept.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    path_ = std::string(mkdtemp(pattern.data())) + "/";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!keep_) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  void Keep() { keep_ = true; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + name, std::ios::binary) << text;
  }

 private:
  std::string path_;
  bool keep_ = false;
};

// A child process, stopped with SIGTERM (SIGKILL after a second) at the end.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> words, const std::string& outputPath) {
    pid_ = fork();
    if (pid_ != 0) return;
    setpgid(0, 0);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("NOTIFY_SOCKET");
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    dup2(null, 0);
    dup2(output, 1);
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
  bool Running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) != pid_) return true;
    pid_ = -1;
    return false;
  }
  void Stop() {
    if (!Running()) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && Running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Running()) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
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

}  // namespace tarvel::tools
