#pragma once

#include <pty.h>
#include <termios.h>

#include <memory>
#include <string_view>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {

// Plays equipment behind a TCP client port: listens on a loopback port for the gateway.
class Listener {
 public:
  // Port 0 picks a free port.
  explicit Listener(int port = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 4);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return port_; }

  // The next connection of the gateway, or nullptr when none came within the limit.
  std::unique_ptr<Client> Accept(std::chrono::milliseconds limit = 5000ms) const {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(limit.count())) <= 0) return nullptr;
    const int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return nullptr;
    return std::make_unique<Client>(Client::Adopt{}, connection);
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Plays equipment on a serial line: the gateway opens the slave end of a pseudo-terminal as
// its COM port, the test writes to the master end. The slave stays open here too, so that
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

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace tarvel::integration
