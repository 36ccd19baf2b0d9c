#pragma once

// Small POSIX helpers shared by the simulators in this folder: address parsing, TCP connect
// and listen, writing everything, and a stop flag set by SIGINT and SIGTERM.

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel::sim {

inline volatile std::sig_atomic_t stopRequested = 0;

// SIGINT and SIGTERM set stopRequested and interrupt blocking calls (no SA_RESTART);
// SIGPIPE is ignored so that a closed peer shows as a failing write.
inline void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = [](int) { stopRequested = 1; };
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

struct HostPort {
  std::string Host;
  int Port = 0;
};

// "host:port" with a port of 1 to 65535; a text without a host ("4001" or ":4001") means
// 127.0.0.1.
inline std::optional<HostPort> ParseHostPort(std::string_view text) {
  const size_t colon = text.rfind(':');
  HostPort result;
  result.Host = colon == std::string_view::npos ? "" : std::string(text.substr(0, colon));
  if (result.Host.empty()) result.Host = "127.0.0.1";
  const std::string portText(colon == std::string_view::npos ? text : text.substr(colon + 1));
  char* end = nullptr;
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || port < 1 || port > 65535) return std::nullopt;
  result.Port = static_cast<int>(port);
  return result;
}

// A connected TCP socket, or -1 with the reason printed.
inline int ConnectTcp(const HostPort& address, bool quiet = false) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int lookup =
      getaddrinfo(address.Host.c_str(), std::to_string(address.Port).c_str(), &hints, &found);
  if (lookup != 0) {
    if (!quiet) std::fprintf(stderr, "%s: %s\n", address.Host.c_str(), gai_strerror(lookup));
    return -1;
  }
  int fd = -1;
  int lastError = 0;
  for (addrinfo* candidate = found; candidate != nullptr && fd < 0;
       candidate = candidate->ai_next) {
    fd =
        socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC, candidate->ai_protocol);
    if (fd >= 0 && connect(fd, candidate->ai_addr, candidate->ai_addrlen) != 0) {
      lastError = errno;
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0 && !quiet)
    std::fprintf(stderr, "connect %s:%d: %s\n", address.Host.c_str(), address.Port,
                 std::strerror(lastError));
  if (fd >= 0) {
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  }
  return fd;
}

// A socket listening on the IPv4 address (every one by default) at the port; port 0 picks a
// free one. -1 with the reason printed when the port cannot be used.
inline int ListenTcp(int port, uint32_t address = INADDR_ANY) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  local.sin_addr.s_addr = htonl(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(fd, 64) != 0) {
    std::fprintf(stderr, "listen on port %d: %s\n", port, std::strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

// Waits until fd is readable; false when a stop was requested first.
inline bool WaitReadable(int fd) {
  pollfd waiting{fd, POLLIN, 0};
  while (!stopRequested) {
    const int ready = poll(&waiting, 1, 200);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
  return false;
}

// Writes all bytes, to a socket or a terminal; false when the peer is gone (errno tells why) or
// a stop was requested.
inline bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty() && !stopRequested) {
    ssize_t written = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (written < 0 && errno == ENOTSOCK) written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return bytes.empty();
}

// A whole number from an option's argument, or exit with a message naming the option.
inline long NumberArgument(const char* option, const char* text, long minimum) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < minimum) {
    std::fprintf(stderr, "%s needs a whole number of at least %ld, not '%s'\n", option, minimum,
                 text);
    std::exit(2);
  }
  return value;
}

}  // namespace tarvel::sim
