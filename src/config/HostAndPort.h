#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// A TCP client port's RemoteAddress "host:port", read once.
struct HostAndPort {
  std::string Host;  // as written, blanks included
  int32_t Port = 0;  // 1 to 65535
};

// None unless the text is a host (not blank), ":" and a port number 1 to 65535, and nothing
// more.
std::optional<HostAndPort> ReadRemoteAddress(std::string_view text);

}  // namespace tarvel
