#include <gtest/gtest.h>

#include <string>

#include "text/TextFields.h"

namespace tarvel {
namespace {

TEST(TextFields, GetFieldSplitsAtTheSeparator) {
  const struct Row {
    std::string text;
    int index;
    std::string separator, expected;
  } rows[] = {// clang-format off
      {"X Y Z", 2, " ", "Z"}, {"X Y Z", 3, " ", ""}, {"X Y Z", -1, " ", ""}, {"X  Y", 1, " ", ""},
      {"10.0.0.5", 0, ":", "10.0.0.5"}, {"a:::b", 1, "::", ":b"} /* occurrences never overlap */,
      {"A B", 0, "", ""}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(GetFieldView(row.text, row.index, row.separator), row.expected)
        << "'" << row.text << "' field " << row.index << " at '" << row.separator << "'";
  }
}

TEST(TextFields, CleanTrimAndUpperCase) {
  const std::pair<std::string, std::string> cleaned[] = {
      // clang-format off
      {"  X\t\tY   Z ", "X//Y Z"}, {"\tX", "/X"}, {" \n ", "/"}, {"a \t  b", "a / b"},
      {std::string("\x00\x1F\x20\x7F", 4), "// \x7F"}, {"\x80\xA0\xFF", "\x80\xA0\xFF"}, {"     ", ""}};
  // clang-format on
  for (const auto& [text, expected] : cleaned) EXPECT_EQ(CleanText(text), expected) << text;
  EXPECT_EQ(TrimBlanks(" \ta\t "), "\ta\t");
  EXPECT_EQ(TrimBlanks(" \ta\t ", " \t"), "a");
  // Below each code of the first text, what it becomes.
  EXPECT_EQ(UpperCase("az`{A\xE0\xF6\xF7\xFE\xFF\xDF"), "AZ`{A\xC0\xD6\xF7\xDE\xFF\xDF");
}

}  // namespace
}  // namespace tarvel
