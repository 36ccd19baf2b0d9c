#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "config/NumericValue.h"

namespace tarvel {
namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();

TEST(NumericValue, ReadsTheLeadingNumber) {
  const struct Row {
    std::string text;
    double expected;
  } rows[] = {
      {"", 0},
      {"42", 42},
      {" 1 2 3", 123},
      {"\t-\n4 2", -42},
      {"+7", 7},
      {"1.5", 1.5},
      {".5", 0.5},
      {"5.", 5},
      {"1 . 2 5", 1.25},
      {"1.2.3", 1.2},
      {"1E2", 100},
      {"1D2", 100},
      {"1e-2", 0.01},
      {"2.5E+1", 25},
      {"1E", 1},
      {"1E+x", 1},
      {"&HFF", 255},
      {"&hff", 255},
      {"& H 1 0", 16},
      {"&O17", 15},
      {"&O19", 1},
      {"&H", 0},
      {"&X1", 0},
      {"-&H10", 0},
      {"&HFFFFFFFF", 4294967295.0},
      {"abc", 0},
      {"12abc", 12},
      {"--1", 0},
      {"1-2", 1},
      {"1,5", 1},
      {"\r5", 0},
      {"0x10", 0},
      {".", 0},
      {"E5", 0},
      {"1e999", Infinity},
      {"-1e999", -Infinity},
      {"1e-999", 0},
      {"1E99999999999999999999", Infinity},
      {"0E999999", 0},
  };
  for (const Row& row : rows) EXPECT_EQ(NumericValue(row.text), row.expected) << row.text;
  // Texts too long to show, and the one with a NUL inside.
  const Row longRows[] = {
      {std::string("7\0008", 3), 7},
      {"0.1" + std::string(2000, '0') + "1", 0.1},
      {"0." + std::string(10000, '0') + "1e10005", 10000},
      {"1" + std::string(400, '0') + "e-400", 1},
      {std::string(1000, '9'), Infinity},
      {std::string(1000, 'F').insert(0, "&H"), Infinity},
      // Exactly between two doubles up to the 900th decimal: the final 1 must round it up.
      {"9007199254740993." + std::string(900, '0') + "1", 9007199254740994.0},
      {"9007199254740993", 9007199254740992.0},
  };
  for (const Row& row : longRows) {
    EXPECT_EQ(NumericValue(row.text), row.expected) << row.text.substr(0, 40);
  }
}

TEST(LongValue, RoundsHalfToEvenAndRefusesWhatDoesNotFit) {
  const struct Row {
    const char* text;
    std::optional<int32_t> expected;
  } rows[] = {{"1.5", 2},
              {"2.5", 2},
              {"3.5", 4},
              {"-0.5", 0},
              {"-1.5", -2},
              {"-2.5", -2},
              {"0.4999999", 0},
              {"2.5000001", 3},
              {"abc", 0},
              {"2147483647", 2147483647},
              {"2147483647.4", 2147483647},
              {"2147483647.5", std::nullopt},
              {"2147483648", std::nullopt},
              {"-2147483648", -2147483647 - 1},
              {"-2147483648.5", -2147483647 - 1},
              {"-2147483649", std::nullopt},
              {"&HFFFFFFFF", std::nullopt},
              {"&H7FFFFFFF", 2147483647},
              {"1e999", std::nullopt},
              {"-1e999", std::nullopt},
              {"99999999999999999999", std::nullopt}};
  for (const Row& row : rows) EXPECT_EQ(LongValue(row.text), row.expected) << row.text;
}

TEST(IntegerValue, HoldsOnlyTheSixteenBitRange) {
  const struct Row {
    const char* text;
    std::optional<int16_t> expected;
  } rows[] = {{"32767", 32767},   {"32767.5", std::nullopt}, {"32768", std::nullopt},
              {"-32768", -32768}, {"-32768.5", -32768},      {"-32769", std::nullopt},
              {"6.5", 6},         {"1e999", std::nullopt}};
  for (const Row& row : rows) EXPECT_EQ(IntegerValue(row.text), row.expected) << row.text;
}

TEST(FlagValue, IsTrueForAnyNumberButZero) {
  const struct Row {
    const char* text;
    bool expected;
  } rows[] = {{"0.4", true},  {"2", true},  {"-1", true},     {"1e999", true},
              {"&H1", true},  {"0", false}, {"0.0", false},   {"-0", false},
              {"yes", false}, {"", false},  {"1e-999", false}};
  for (const Row& row : rows) EXPECT_EQ(FlagValue(row.text), row.expected) << row.text;
}

TEST(KeywordValue, TrimsBlanksAndUpperCases) {
  EXPECT_EQ(KeywordValue(" tcps "), "TCPS");
  EXPECT_EQ(KeywordValue("Com"), "COM");
  EXPECT_EQ(KeywordValue("   "), "");
  EXPECT_EQ(KeywordValue("tcp s"), "TCP S");
}

}  // namespace
}  // namespace tarvel
