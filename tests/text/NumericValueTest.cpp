#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

#include "text/NumericValue.h"

namespace tarvel {
namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();

TEST(NumericValue, ReadsTheLeadingNumber) {
  const struct Row {
    std::string text;
    double expected;
  } rows[] = {// clang-format off
      {"", 0},          {" 1 2 3", 123},  {"\t-\n4 2", -42},  {".5", 0.5},       {"1.2.3", 1.2},
      {"1E2", 100},     {"1D2", 100},     {"1e-2", 0.01},   {"1E", 1},         {"&HFA", 250},
      {"& H 1 0", 16},  {"&O17", 15},     {"&O19", 1},      {"&H", 0},         {"-&H10", 0},
      {"abc", 0},       {"12abc", 12},    {"--1", 0},       {"1,5", 1},        {"\r5", 0},
      {"0x10", 0},      {"1e999", Infinity},                {"-1e999", -Infinity},
      {"0E999999", 0},  {"&HFFFFFFFF", 4294967295.0},       {std::string("7\0008", 3), 7},
      {"0.1" + std::string(2000, '0') + "1", 0.1},
      {"0." + std::string(10000, '0') + "1e10005", 10000},  {std::string(1000, '9'), Infinity},
      {"9007199254740993", 9007199254740992.0},
      // Exactly between two doubles up to the 900th decimal: the final 1 must round it up.
      {"9007199254740993." + std::string(900, '0') + "1", 9007199254740994.0}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(NumericValue(row.text), row.expected) << row.text.substr(0, 40);
  }
}

// Both whole-number conversions on every row: whole digits take a short path, the rest the
// general rule, and the two must agree at every edge.
TEST(NumericValue, LongAndIntegerRoundHalfToEvenAndRefuseWhatDoesNotFit) {
  constexpr std::nullopt_t None = std::nullopt;
  const struct Row {
    const char* text;
    std::optional<int32_t> asLong;
    std::optional<int16_t> asInteger;
  } rows[] = {// clang-format off
      {"2.5", 2, 2},        {"3.5", 4, 4},         {"-0.5", 0, 0},       {"-2.5", -2, -2},
      {"2.5000001", 3, 3},  {"abc", 0, 0},         {" - 1 2x", -12, -12}, {"&H10", 16, 16},
      {"32767", 32767, 32767},    {"32767.5", 32768, None},   {"-32768", -32768, -32768},
      {"-32768.5", -32768, -32768}, {"-32769", -32769, None},
      {"2147483647.4", 2147483647, None},  {"2147483647.5", None, None},
      {"-2147483648.5", -2147483647 - 1, None}, {"-2147483649", None, None},
      {"&HFFFFFFFF", None, None},          {"&H7FFFFFFF", 2147483647, None},
      {"-1e999", None, None},              {"99999999999999999999", None, None},
      // An exponent after whole digits takes the general rule, in either letter and case.
      {"1E2", 100, 100},    {"1e2", 100, 100},     {"1D2", 100, 100},    {"1d2", 100, 100},
      {"1 2.5 ", 12, 12}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(LongValue(row.text), row.asLong) << row.text;
    EXPECT_EQ(IntegerValue(row.text), row.asInteger) << row.text;
  }
}

}  // namespace
}  // namespace tarvel
