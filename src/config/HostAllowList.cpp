#include "config/HostAllowList.h"

#include <algorithm>
#include <cstring>

#include "text/AddressText.h"
#include "text/TextFields.h"

namespace tarvel {

namespace {

constexpr int MappedPrefixBits = 96;
constexpr size_t LongestAddressText = 64;  // the longest IPv6 address text is 45

std::string_view TrimBlanksAndTabs(std::string_view text) {
  return TrimBlanks(text, " \t");
}

}  // namespace

std::optional<HostAllowList::Bytes> HostAllowList::ParseAddress(std::string_view text) {
  if (text.empty() || text.size() >= LongestAddressText) return std::nullopt;
  // The address ends at a NUL byte, as it did when the C library read it.
  const std::string_view digits = text.substr(0, text.find('\0'));
  if (text.find(':') != std::string_view::npos) return ParseIpv6Address(digits);
  const std::optional<std::array<uint8_t, 4>> ipv4 = ParseIpv4Address(digits);
  if (!ipv4) return std::nullopt;
  // Held as ::ffff:a.b.c.d.
  Bytes bytes{};
  bytes[10] = bytes[11] = 0xFF;
  std::copy(ipv4->begin(), ipv4->end(), bytes.begin() + 12);
  return bytes;
}

bool HostAllowList::IsAddress(std::string_view text) {
  return ParseAddress(text).has_value();
}

std::optional<HostAllowList::Range> HostAllowList::ParseRange(std::string_view entry) {
  const size_t slash = entry.find('/');
  const std::optional<Bytes> address = ParseAddress(entry.substr(0, slash));
  if (!address) return std::nullopt;
  const bool ipv4 = entry.find(':') == std::string_view::npos;
  const int maximum = ipv4 ? 32 : 128;
  int length = maximum;
  if (slash != std::string_view::npos) {
    const std::string_view digits = entry.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    length = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      length = length * 10 + (c - '0');
    }
    if (length > maximum) return std::nullopt;
  }
  Range range{*address, ipv4 ? length + MappedPrefixBits : length};
  // Host bits written into a range ("10.1.2.3/8") are ignored.
  for (int bit = range.PrefixLength; bit < 128; ++bit)
    range.Network[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
  return range;
}

std::optional<HostAllowList> HostAllowList::Parse(std::string_view text, std::string& badEntry) {
  HostAllowList list;
  if (TrimBlanksAndTabs(text).empty()) return list;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view entry = TrimBlanksAndTabs(text.substr(0, comma));
    const std::optional<Range> range = ParseRange(entry);
    if (!range) {
      badEntry = std::string(entry);
      return std::nullopt;
    }
    list.ranges_.push_back(*range);
    if (comma == std::string_view::npos) return list;
    text.remove_prefix(comma + 1);
  }
}

bool HostAllowList::Contains(const Range& range, const Bytes& address) {
  const int wholeBytes = range.PrefixLength / 8;
  if (std::memcmp(range.Network.data(), address.data(), static_cast<size_t>(wholeBytes)) != 0)
    return false;
  const int restBits = range.PrefixLength % 8;
  if (restBits == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF00u >> restBits);
  return (address[wholeBytes] & mask) == range.Network[wholeBytes];
}

bool HostAllowList::Allows(std::string_view peerAddress) const {
  if (ranges_.empty()) return true;
  const std::optional<Bytes> address = ParseAddress(peerAddress.substr(0, peerAddress.find('%')));
  if (!address) return false;
  for (const Range& range : ranges_) {
    if (Contains(range, *address)) return true;
  }
  return false;
}

}  // namespace tarvel
