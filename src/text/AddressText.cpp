#include "text/AddressText.h"

#include <algorithm>
#include <cstddef>

namespace tarvel {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::array<uint8_t, 4>> ParseIpv4Address(std::string_view text) {
  std::array<uint8_t, 4> bytes{};
  size_t octets = 0;   // begun
  size_t current = 0;  // the one being read
  bool sawDigit = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      if (sawDigit && bytes[current] == 0) return std::nullopt;  // a leading zero
      const unsigned value = bytes[current] * 10u + static_cast<unsigned>(c - '0');
      if (value > 255) return std::nullopt;
      bytes[current] = static_cast<uint8_t>(value);
      if (!sawDigit) {
        if (++octets > 4) return std::nullopt;
        sawDigit = true;
      }
    } else if (c == '.' && sawDigit) {
      if (octets == 4) return std::nullopt;
      ++current;
      sawDigit = false;
    } else {
      return std::nullopt;
    }
  }
  if (octets < 4) return std::nullopt;
  return bytes;
}

std::optional<std::array<uint8_t, 16>> ParseIpv6Address(std::string_view text) {
  std::array<uint8_t, 16> bytes{};
  size_t filled = 0;                // bytes written so far
  std::optional<size_t> zeroRunAt;  // where "::" stands
  if (text.empty()) return std::nullopt;
  size_t at = 0;
  if (text[0] == ':') {
    if (text.size() < 2 || text[1] != ':') return std::nullopt;
    at = 1;
  }
  size_t groupStart = at;
  size_t digits = 0;
  unsigned value = 0;
  while (at < text.size()) {
    const char c = text[at++];
    if (const int digit = HexDigitValue(c); digit >= 0) {
      if (digits == 4) return std::nullopt;
      value = (value << 4) | static_cast<unsigned>(digit);
      ++digits;
      continue;
    }
    if (c == ':') {
      groupStart = at;
      if (digits == 0) {
        if (zeroRunAt) return std::nullopt;
        zeroRunAt = filled;
        continue;
      }
      if (at == text.size()) return std::nullopt;  // a trailing single ":"
      if (filled + 2 > bytes.size()) return std::nullopt;
      bytes[filled++] = static_cast<uint8_t>(value >> 8);
      bytes[filled++] = static_cast<uint8_t>(value & 0xFF);
      digits = 0;
      value = 0;
      continue;
    }
    if (c == '.' && filled + 4 <= bytes.size()) {
      const auto ipv4 = ParseIpv4Address(text.substr(groupStart));
      if (!ipv4) return std::nullopt;
      std::copy(ipv4->begin(), ipv4->end(), bytes.begin() + static_cast<std::ptrdiff_t>(filled));
      filled += 4;
      digits = 0;
      break;
    }
    return std::nullopt;
  }
  if (digits > 0) {
    if (filled + 2 > bytes.size()) return std::nullopt;
    bytes[filled++] = static_cast<uint8_t>(value >> 8);
    bytes[filled++] = static_cast<uint8_t>(value & 0xFF);
  }
  if (zeroRunAt) {
    if (filled == bytes.size()) return std::nullopt;  // "::" standing for no group
    const size_t moved = filled - *zeroRunAt;
    std::copy_backward(bytes.begin() + static_cast<std::ptrdiff_t>(*zeroRunAt),
                       bytes.begin() + static_cast<std::ptrdiff_t>(filled), bytes.end());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(*zeroRunAt),
              bytes.end() - static_cast<std::ptrdiff_t>(moved), 0);
    filled = bytes.size();
  }
  if (filled != bytes.size()) return std::nullopt;
  return bytes;
}

}  // namespace tarvel
