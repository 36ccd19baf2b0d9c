#pragma once

#include <cstdint>
#include <string>

namespace tarvel {

// "host:port", the host as it is (an IPv6 address without brackets), as the log and the windows
// write a peer or a remote.
inline std::string HostPortText(const std::string& host, int32_t port) {
  return host + ":" + std::to_string(port);
}

// A peer as the log names it: "address:port", or "unknown" when the socket layer could not
// read the address (a peer that reset its connection before it was taken).
inline std::string PeerText(const std::string& address, int32_t port) {
  if (address.empty()) return "unknown";
  return HostPortText(address, port);
}

}  // namespace tarvel
