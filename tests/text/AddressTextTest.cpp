#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "text/AddressText.h"

namespace tarvel {
namespace {

// The C library's reading of the text, the one the addresses of a configuration were always
// read with.
template <size_t Size>
std::optional<std::array<uint8_t, Size>> LibraryReading(const std::string& text) {
  std::array<uint8_t, Size> bytes{};
  if (inet_pton(Size == 4 ? AF_INET : AF_INET6, text.c_str(), bytes.data()) != 1)
    return std::nullopt;
  return bytes;
}

// The edges of both forms, then texts made of the characters an address is written with, so
// that every path is taken.
TEST(AddressTextTest, ReadsAsTheCLibraryDoes) {
  std::vector<std::string> texts = {// clang-format off
      "", "1.2.3.4", "255.255.255.255", "256.1.1.1", "01.2.3.4", "0.0.0.0", "1.2.3",
      "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.4.", " 1.2.3.4", "1.2.3.4 ", "1.2.3.04",
      "0x1.2.3.4", "::", "::1", "1::", "1:", ":1", ":::", "1:2:3:4:5:6:7:8",
      "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7::8", "1:2:3:4:5:6:7::", "::1:2:3:4:5:6:7", "1::2::3",
      "12345::", "fFfF::", "g::", "::ffff:10.0.0.1", "::10.0.0.1", "1:2:3:4:5:6:1.2.3.4",
      "1:2:3:4:5:6:7:1.2.3.4", "::1.2.3", "::1.2.3.4:5", "fe80::1%eth0", "1:2:3:4:5:6:7:8:",
      "::ffff:1.2.3.256", "1:2:3:4:5:6::1.2.3.4", "abcd::1.2.3.4"};
  // clang-format on
  std::mt19937 random(21);
  const std::string alphabet = "0123456789abcdefABCDEFgx:.:.:";
  for (int round = 0; round < 50000; ++round) {
    std::string& text = texts.emplace_back(random() % 24, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
  }
  for (const std::string& text : texts) {
    EXPECT_EQ(ParseIpv4Address(text), LibraryReading<4>(text)) << "IPv4 " << text;
    EXPECT_EQ(ParseIpv6Address(text), LibraryReading<16>(text)) << "IPv6 " << text;
  }
}

}  // namespace
}  // namespace tarvel
