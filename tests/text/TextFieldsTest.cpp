#include <gtest/gtest.h>

#include <string>

#include "text/TextFields.h"

namespace tarvel {
namespace {

TEST(GetField, SplitsAtASeparatorOrTheDetectedOne) {
  struct Row {
    std::string text;
    int index;
    std::string separator;  // empty: detection
    std::string expected;
    std::string separatorAfter;
  } rows[] = {{"X Y Z", 0, " ", "X", " "},
              {"X Y Z", 2, " ", "Z", " "},
              {"X Y Z", 3, " ", "", " "},
              {"X Y Z", -1, " ", "", " "},
              {"X  Y", 1, " ", "", " "},
              {"X  Y", 2, " ", "Y", " "},
              {" X ", 2, " ", "", " "},
              {"10.0.0.5:4001", 0, ":", "10.0.0.5", ":"},
              {"10.0.0.5:4001", 1, ":", "4001", ":"},
              {"10.0.0.5", 0, ":", "10.0.0.5", ":"},
              {"10.0.0.5", 1, ":", "", ":"},
              {"", 0, " ", "", " "},
              {"a::b::c", 2, "::", "c", "::"},
              {"a:::b", 1, "::", ":b", "::"},  // occurrences never overlap
              {"A'B\tC", 0, "", "A'B", "\t"},  // the tab wins wherever it stands
              {"A'B", 1, "", "B", "'"},
              {"A B", 0, "", "", ""},  // nothing detected: every field empty
              {"", 0, "", "", ""}};
  for (const Row& row : rows) {
    std::string separator = row.separator;
    EXPECT_EQ(GetField(row.text, row.index, separator), row.expected)
        << "'" << row.text << "' field " << row.index << " at '" << row.separator << "'";
    EXPECT_EQ(separator, row.separatorAfter) << row.text;
    if (!row.separator.empty()) {
      EXPECT_EQ(GetFieldView(row.text, row.index, row.separator), row.expected) << row.text;
    }
  }
}

TEST(CleanText, TrimsMarksControlsAndShrinksBlanks) {
  struct Row {
    std::string text;
    std::string expected;
  } rows[] = {{"  X\t\tY   Z ", "X//Y Z"},
              {"\tX", "/X"},
              {" \n ", "/"},
              {"a \t  b", "a / b"},
              {std::string("\x00\x1F\x20\x7F", 4), "// \x7F"},
              {"\x80\xA0\xFF", "\x80\xA0\xFF"},
              {"     ", ""}};
  for (const Row& row : rows) EXPECT_EQ(CleanText(row.text), row.expected) << row.text;
  EXPECT_EQ(TrimBlanks(" \ta\t "), "\ta\t");
}

TEST(UpperCase, MapsLatin1Letters) {
  EXPECT_EQ(UpperCase("j\xE4n m\xE4r dez"), "J\xC4N M\xC4R DEZ");
  // Below each code of the first line, what it becomes.
  const std::string from = "az`{A\xE0\xF6\xF7\xFE\xFF\xDF";
  const std::string upper = "AZ`{A\xC0\xD6\xF7\xDE\xFF\xDF";
  EXPECT_EQ(UpperCase(from), upper);
}

}  // namespace
}  // namespace tarvel
