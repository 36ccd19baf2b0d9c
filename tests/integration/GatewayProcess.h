#pragma once

// The integration tests' view of the one harness that the tools use too.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdio>

#include "../../tools/ToolSupport.h"

namespace tarvel::integration {

using namespace tools;  // the harness's sockets, clients, waits, files and time literals
using ProgramFolder = TempFolder;

inline std::string OstrelPortIni(int port = FreePort()) {
  return "[General]\nOstrelPort=" + std::to_string(port) + "\n";
}

// The output (standard error too) and exit status of a shell command.
inline std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t count; pipe != nullptr && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, count);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Where a gateway run as a service (NOTIFY_SOCKET set to Path()) tells systemd its state.
class NotifySocket {
 public:
  explicit NotifySocket(const ProgramFolder& folder) : path_(folder.Path() + "notify") {
    sockaddr_un address{AF_UNIX, {}};
    path_.copy(address.sun_path, sizeof address.sun_path - 1);  // a temporary folder's is short
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~NotifySocket() { close(fd_); }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  const std::string& Path() const { return path_; }
  // The next `count` messages, fewer when none comes for ten seconds.
  std::vector<std::string> Receive(size_t count) const {
    std::vector<std::string> messages;
    char buffer[512];
    for (ssize_t got; messages.size() < count && (got = recv(fd_, buffer, sizeof buffer, 0)) > 0;)
      messages.emplace_back(buffer, static_cast<size_t>(got));
    return messages;
  }

 private:
  std::string path_;
  int fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// This build's gateway as a child process, its standard error kept in the program folder.
class GatewayProcess : public tools::ChildProcess {
 public:
  GatewayProcess(const ProgramFolder& folder, std::vector<std::string> arguments,
                 const std::map<std::string, std::string>& environment = {})
      : ChildProcess((arguments.insert(arguments.begin(), GATEWAY_EXECUTABLE), arguments),  // argv
                     folder.Path() + "stderr-" + std::to_string(++count_) + ".txt", environment,
                     false) {}
  ~GatewayProcess() { Stop(SIGKILL); }
  std::string StandardError() const { return Output(); }

 private:
  static inline int count_ = 0;
};

}  // namespace tarvel::integration
