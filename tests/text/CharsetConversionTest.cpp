#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/AllByteValues.h"
#include "text/CharsetConversion.h"

namespace tarvel {
namespace {

TEST(CharsetConversion, EveryByteValueFollowsItsTable) {
  const std::map<int, int> swedish = {{0x5B, 0xC4}, {0x5D, 0xC5}, {0x5C, 0xD6},
                                      {0x7B, 0xE4}, {0x7D, 0xE5}, {0x7C, 0xF6}};
  const std::map<int, int> dos = {
      {0x8E, 0xC4}, {0x8F, 0xC5}, {0x99, 0xD6}, {0x84, 0xE4}, {0x86, 0xE5}, {0x94, 0xF6},
      {0xF8, 0xB0}, {0xFC, 0xB3}, {0x9A, 0xDC}, {0x82, 0xE9}, {0x90, 0xC9}, {0x91, 0xE6},
      {0x92, 0xC6}, {0x9B, 0xF8}, {0x9D, 0xD8}, {0xEC, 0xF8}, {0xED, 0xD8}};
  struct Table {
    const char* name;
    void (*convert)(std::string&);
    const std::map<int, int>& entries;
  } tables[] = {{"Swedish", Swedish7BitToLatin1, swedish}, {"DOS", DOSToLatin1, dos}};
  const std::string all = AllByteValues();
  for (const Table& table : tables) {
    std::string text = all;
    table.convert(text);
    ASSERT_EQ(text.size(), all.size()) << table.name;
    for (int code = 0; code < 256; ++code) {
      const auto entry = table.entries.find(code);
      const int expected = entry == table.entries.end() ? code : entry->second;
      EXPECT_EQ(static_cast<unsigned char>(text[code]), expected) << table.name << " code " << code;
    }
  }
  // One after the other, each character is converted once: no Swedish result is a DOS code.
  std::string text = all;
  Swedish7BitToLatin1(text);
  DOSToLatin1(text);
  EXPECT_EQ(text.substr(0x5B, 3), "\xC4\xD6\xC5");
}

}  // namespace
}  // namespace tarvel
