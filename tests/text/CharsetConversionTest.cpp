#include <gtest/gtest.h>

#include <string>

#include "support/AllByteValues.h"
#include "text/CharsetConversion.h"

namespace tarvel {
namespace {

// Each table turns its national letters into Latin-1 ones and leaves every other byte alone.
TEST(CharsetConversion, NationalLettersBecomeLatin1AndNoOtherByteChanges) {
  const struct Table {
    const char* name;
    void (*convert)(std::string&);
    std::string from, to;
  } tables[] = {
      {"Swedish", Swedish7BitToLatin1, "[\\]{|}", "\xC4\xD6\xC5\xE4\xF6\xE5"},
      {"DOS", DOSToLatin1, "\x8E\x8F\x99\x84\x86\x94\x9A\x82\x90\x91\x92\x9B\x9D\xEC\xED\xF8\xFC",
       "\xC4\xC5\xD6\xE4\xE5\xF6\xDC\xE9\xC9\xE6\xC6\xF8\xD8\xF8\xD8\xB0\xB3"}};
  for (const Table& table : tables) {
    std::string text = table.from;
    table.convert(text);
    EXPECT_EQ(text, table.to) << table.name;
    std::string all = AllByteValues();
    table.convert(all);
    size_t changed = 0;
    for (int code = 0; code < 256; ++code) changed += all[code] != static_cast<char>(code);
    EXPECT_EQ(changed, table.from.size()) << table.name;
  }
}

}  // namespace
}  // namespace tarvel
