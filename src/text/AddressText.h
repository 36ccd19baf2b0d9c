#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvel {

// IP addresses written in digits, read as the C library's inet_pton reads them, so that a
// configuration reads the same on every system.

// "a.b.c.d": four decimal numbers up to 255, none with a leading zero.
std::optional<std::array<uint8_t, 4>> ParseIpv4Address(std::string_view text);

// Eight groups of up to four hex digits, one "::" for a run of zero groups (never for none),
// the last two groups optionally written as an IPv4 address ("::ffff:10.0.0.1").
std::optional<std::array<uint8_t, 16>> ParseIpv6Address(std::string_view text);

}  // namespace tarvel
