#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// The hosts that may connect to one listener: IPv4 and IPv6 addresses and CIDR ranges
// ("10.0.0.0/8", "fd00::/8"). An empty list lets every host connect.
//
// IPv4 is held in its IPv4-mapped IPv6 form (::ffff:a.b.c.d, prefix length + 96), so an IPv4
// entry matches a peer that a dual-stack listener reports as ::ffff:a.b.c.d, an entry written
// in the mapped form matches a plain IPv4 peer, and ::/0 matches every peer.
class HostAllowList {
 public:
  // Reads a comma-separated list; blanks and tabs around an entry are ignored. A text of
  // nothing but blanks gives the empty list. Nothing when an entry is not an address or range
  // (a host name, a zone index "%eth0", a prefix length out of range, an empty entry); the
  // entry, trimmed, is then in badEntry.
  static std::optional<HostAllowList> Parse(std::string_view text, std::string& badEntry);

  // Whether the text is one IPv4 or IPv6 address in digits (no range, no zone index).
  static bool IsAddress(std::string_view text);

  // Whether a peer, given by its address in digits as the socket layer reports it (a zone
  // index "%..." is ignored), may connect. An unreadable address is refused unless the list
  // is empty.
  bool Allows(std::string_view peerAddress) const;

 private:
  using Bytes = std::array<uint8_t, 16>;
  struct Range {
    Bytes Network{};
    int PrefixLength = 0;  // 0..128
  };

  static std::optional<Bytes> ParseAddress(std::string_view text);
  static std::optional<Range> ParseRange(std::string_view entry);
  static bool Contains(const Range& range, const Bytes& address);

  std::vector<Range> ranges_;
};

}  // namespace tarvel
