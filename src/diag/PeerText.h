#pragma once

#include <cstdint>
#include <string>

namespace tarvel {

// A peer as the log names it: "address:port", or "unknown" when the socket layer could not
// read the address (a peer that reset its connection before it was taken).
inline std::string PeerText(const std::string& address, int32_t port) {
  if (address.empty()) return "unknown";
  return address + ":" + std::to_string(port);
}

}  // namespace tarvel
