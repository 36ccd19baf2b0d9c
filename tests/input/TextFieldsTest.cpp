#include <gtest/gtest.h>

#include <string>

#include "input/TextFields.h"

namespace tarvel {
namespace {

TEST(GetField, SplitsAtAFixedSeparator) {
  struct Row {
    std::string text;
    int index;
    std::string separator;
    std::string expected;
  } rows[] = {
      {"X Y Z", 0, " ", "X"},
      {"X Y Z", 2, " ", "Z"},
      {"X Y Z", 3, " ", ""},
      {"X Y Z", -1, " ", ""},
      {"X  Y", 1, " ", ""},
      {"X  Y", 2, " ", "Y"},
      {" X", 0, " ", ""},
      {"X ", 1, " ", ""},
      {" X Y ", 2, " ", "Y"},
      {"10.0.0.5:4001", 0, ":", "10.0.0.5"},
      {"10.0.0.5:4001", 1, ":", "4001"},
      {"10.0.0.5", 0, ":", "10.0.0.5"},
      {"10.0.0.5", 1, ":", ""},
      {"COM1,9600,N,8,1,0", 5, ",", "0"},
      {"", 0, " ", ""},
      {"a::b::c", 1, "::", "b"},
      {"a::b::c", 2, "::", "c"},
      {"a:::b", 1, "::", ":b"},  // occurrences never overlap
      {"12-JAN-17", 1, "-", "JAN"},
  };
  for (const Row& row : rows) {
    std::string separator = row.separator;
    EXPECT_EQ(GetField(row.text, row.index, separator), row.expected)
        << "'" << row.text << "' field " << row.index << " at '" << row.separator << "'";
    EXPECT_EQ(separator, row.separator) << row.text;
    EXPECT_EQ(GetFieldView(row.text, row.index, row.separator), row.expected) << row.text;
  }
}

TEST(GetField, DetectsTabBeforeApostropheAndWritesItBack) {
  struct Row {
    std::string text;
    int index;
    std::string expected;
    std::string detected;
  } rows[] = {
      {"A'B\tC", 0, "A'B", "\t"},  // the tab wins even when the apostrophe comes first
      {"A\tB'C", 1, "B'C", "\t"}, {"A'B", 1, "B", "'"},
      {"A B", 0, "", ""},  // neither: every field empty
      {"A B", 1, "", ""},         {"", 0, "", ""},
  };
  for (const Row& row : rows) {
    std::string separator;
    EXPECT_EQ(GetField(row.text, row.index, separator), row.expected) << row.text;
    EXPECT_EQ(separator, row.detected) << row.text;
  }
}

TEST(CleanText, TrimsMarksControlsAndShrinksBlanks) {
  struct Row {
    std::string text;
    std::string expected;
  } rows[] = {
      {"  X\t\tY   Z ", "X//Y Z"},
      {"\tX", "/X"},
      {"\t", "/"},
      {" \n ", "/"},
      {"a \t  b", "a / b"},
      {std::string("\x00\x1F\x20\x7F", 4), "// \x7F"},
      {"\x7F\x80\xA0\xFF", "\x7F\x80\xA0\xFF"},
      {"", ""},
      {"     ", ""},
      {"NACK ALARM Fire detector", "NACK ALARM Fire detector"},
  };
  for (const Row& row : rows) EXPECT_EQ(CleanText(row.text), row.expected) << row.text;
}

TEST(TrimBlanks, RemovesSpacesOnly) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimBlanks("   "), "");
}

TEST(UpperCase, MapsLatin1Letters) {
  EXPECT_EQ(UpperCase("j\xE4n m\xE4r dez"), "J\xC4N M\xC4R DEZ");
  struct Row {
    unsigned char code;
    unsigned char expected;
  } rows[] = {{'a', 'A'},   {'z', 'Z'},   {'`', '`'},   {'{', '{'},   {'A', 'A'},
              {0xE0, 0xC0}, {0xE5, 0xC5}, {0xF6, 0xD6}, {0xF7, 0xF7}, {0xF8, 0xD8},
              {0xFE, 0xDE}, {0xFF, 0xFF}, {0xDF, 0xDF}, {0xC4, 0xC4}};
  for (const Row& row : rows) {
    EXPECT_EQ(static_cast<unsigned char>(UpperCaseChar(static_cast<char>(row.code))), row.expected)
        << "code " << int{row.code};
  }
}

}  // namespace
}  // namespace tarvel
