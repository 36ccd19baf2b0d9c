#include <gtest/gtest.h>

#include <string>

#include "config/HostAllowList.h"

namespace tarvel {
namespace {

TEST(HostAllowList, MatchesAddressesAndRanges) {
  const std::string three = "10.0.0.1, 192.168.0.0/16 ,\t::1";
  const struct Row {
    std::string List;
    const char* Peer;
    bool Allowed;
  } rows[] = {// clang-format off
      {" \t ", "2001:db8::1", true},        {"", "not an address", true},
      {"10.1.2.3", "10.1.2.3", true},         {"10.1.2.3", "10.1.2.4", false},
      {"10.1.2.3", "::ffff:10.1.2.3", true},
      {"10.1.2.3", "::10.1.2.3", false},  // IPv4-compatible is not mapped
      {"::ffff:10.1.2.3", "10.1.2.3", true}, {"::ffff:10.0.0.0/104", "10.200.1.1", true},
      {"10.0.0.0/8", "10.255.255.255", true}, {"10.0.0.0/8", "11.0.0.0", false},
      {"10.1.2.3/8", "10.9.9.9", true},  // host bits of a range are ignored
      // A length inside a byte, host bits set in that byte.
      {"10.255.255.255/9", "10.128.0.1", true}, {"10.255.255.255/9", "10.127.255.255", false},
      {"0.0.0.0/0", "255.255.255.255", true}, {"0.0.0.0/0", "::1", false},
      {"::/0", "1.2.3.4", true},              {"::1", "127.0.0.1", false},
      {"2001:db8::/32", "2001:db8:ffff::1", true}, {"2001:db8::/32", "2001:db9::1", false},
      {"fe80::/10", "fe80::1%eth0", true},    {"fe80::/10", "febf::1", true},
      {"fe80::/10", "fec0::1", false},        {"2001:DB8::1", "2001:db8::1", true},
      {three, "192.168.44.1", true},          {three, "::1", true},
      {three, "172.16.0.1", false},           {"10.0.0.1", "host.example", false},
      {"::/0", "garbage", false}};
  // clang-format on
  for (const Row& row : rows) {
    std::string badEntry;
    const std::optional<HostAllowList> list = HostAllowList::Parse(row.List, badEntry);
    ASSERT_TRUE(list) << row.List << " failed at " << badEntry;
    EXPECT_EQ(list->Allows(row.Peer), row.Allowed)
        << "list \"" << row.List << "\", peer " << row.Peer;
  }
}

TEST(HostAllowList, MalformedEntryIsNamed) {
  const std::pair<std::string, std::string> rows[] = {
      // list, bad entry ("=": the whole list)
      // clang-format off
      {"10.0.0.256", "="},  {"10.0.0", "="},        {"010.0.0.1", "="},     {"10.0.0.1/33", "="},
      {"10.0.0.1/-1", "="}, {"10.0.0.1/", "="},     {"10.0.0.1/0008", "="}, {"::1/129", "="},
      {"[::1]", "="},       {"fe80::1%eth0", "="},  {"10.0.0.1 10.0.0.2", "="},
      {std::string(100, '1'), "="},                 {"10.0.0.1,", ""},      {"10.0.0.1,,10.0.0.2", ""},
      {"10.0.0.1,  gateway.example ,10.0.0.2", "gateway.example"}};
  // clang-format on
  for (const auto& [list, bad] : rows) {
    std::string badEntry = "unchanged";
    EXPECT_FALSE(HostAllowList::Parse(list, badEntry).has_value()) << list;
    EXPECT_EQ(badEntry, bad == "=" ? list : bad) << list;
  }
}

}  // namespace
}  // namespace tarvel
