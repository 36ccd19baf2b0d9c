#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "fakes/FakeClock.h"
#include "text/DateTime.h"

namespace tarvel {
namespace {

constexpr int64_t Max = std::numeric_limits<int64_t>::max();

std::string Format(const DateTime& value) {
  return FormatDate(value) + " " + FormatTime(value);
}

class DateTimeTest : public ::testing::Test {
 protected:
  // Today is far from the dates in the tables, so a fallback shows.
  void SetUp() override { clock_.Set(2021, 3, 4, 5, 6, 7); }
  FakeClock clock_;
};

TEST(MakeDate, FormsOnlyYears100To9999AfterTheCarries) {
  struct Row {
    int64_t year, month, day;
    const char* expected;  // nullptr: not formed, the value untouched
  } rows[] = {
      {29, 1, 1, "2029-01-01"},    {30, 1, 1, "1930-01-01"},     {99, 13, 1, "2000-01-01"},
      {2017, 2, 29, "2017-03-01"}, {2017, -11, 1, "2016-01-01"}, {2017, 1, -366, "2015-12-31"},
      {100, 1, 1, "0100-01-01"},   {9999, 12, 31, "9999-12-31"}, {9999, 12, 32, nullptr},
      {100, 1, 0, nullptr},        {Max, 1, 1, nullptr},         {2017, -Max, 1, nullptr},
      {1900, 2, 29, "1900-03-01"}, {2000, 2, 29, "2000-02-29"}};
  for (const Row& row : rows) {
    const DateTime untouched{1, 2, 3, 4, 5, 6};
    DateTime date = untouched;
    const bool formed = MakeDate(row.year, row.month, row.day, date);
    const std::string got = formed ? Format(date) : (date == untouched ? "none" : "touched");
    EXPECT_EQ(got, row.expected ? row.expected + std::string(" 00:00:00") : "none")
        << row.year << "/" << row.month << "/" << row.day;
  }
  EXPECT_GT(DateTime{}.PlusSeconds(Max).Year, 9999);  // bounded, no overflow
}

// Within the day only the time moves; past midnight either way the date carries too.
TEST(DateTime, PlusSecondsCarriesTheTimeOfDayIntoTheDate) {
  const DateTime evening{2017, 12, 31, 23, 10, 20};
  const struct Row {
    int64_t seconds;
    const char* expected;
  } rows[] = {
      // clang-format off
      {0, "2017-12-31 23:10:20"}, {2979, "2017-12-31 23:59:59"}, {2980, "2018-01-01 00:00:00"},
      {2980 + 5025, "2018-01-01 01:23:45"},
      {2980 + 7201, "2018-01-01 02:00:01"},  // the hour whole, not cut at 3601 s
      {2980 + 59 * 86400 + 86399, "2018-03-01 23:59:59"},
      {-83420, "2017-12-31 00:00:00"}, {-83421, "2017-12-30 23:59:59"},
      {-83420 - 86400 * 365 - 3 * 3600 - 17 * 60 - 9, "2016-12-30 20:42:51"},
      {2980 + 2915365 * int64_t{86400}, "10000-01-01 00:00:00"}};  // a year wider than 4 digits
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(Format(evening.PlusSeconds(row.seconds)), row.expected) << row.seconds << " s";
}

// Seconds from midnight; characters 3 and 6 are not looked at, minutes and seconds carry, text
// without a number reads as 0, and only another layout takes the time of day.
TEST_F(DateTimeTest, TimeParseReadsFixedPositionsAndCarries) {
  const int64_t now = 5 * 3600 + 6 * 60 + 7;
  const struct Row {
    int layout;
    const char* text;
    int64_t seconds;
  } rows[] = {
      {1, "10:20:30", 37230},   {1, "10120130", 37230},
      {1, "10:75:30", 40530},   {1, "25:00:61", 90061},
      {1, " 9: 5: 7 x", 32707}, {1, "-1:00:00", -3600},
      {1, "ab:cd:ef", 0},       {1, "", 0},
      {2, "10:20:30", now},
  };
  for (const Row& row : rows)
    EXPECT_EQ(TimeParse(row.layout, row.text, 1, clock_), row.seconds)
        << row.layout << " \"" << row.text << "\"";
}

TEST_F(DateTimeTest, DateParseReadsFixedPositionsOrMonthNames) {
  // A field beyond 16 bits, a date beyond 9999, an unknown month name or layout give today; day
  // and year of layout 11 come from the first 9 characters.
  struct Row {
    int layout;
    const char* text;
    std::size_t startPos;
    const char* expected;
  };
  // clang-format off
  const Row rows[] = {
      {5, "07-06-2017", 1, "2017-06-07"},   {5, "07.06.2017", 1, "2017-06-07"},
      {5, "07-06-17", 1, "2017-06-07"},     {5, "", 1, "1999-11-30"},
      {5, "1 -06-2017", 1, "2017-06-01"},   {5, "xx07-06-2017", 3, "2017-06-07"},
      {5, "07-06-2017", 0, "2017-06-07"},   {5, "07-06-2017", 11, "1999-11-30"},
      {5, "07-06-9E99", 1, "2021-03-04"},   {5, "32-12-9999", 1, "2021-03-04"},
      {11, "12-JAN-17", 1, "2017-01-12"},   {11, "12-j\xE4n-17", 1, "2017-01-12"},
      {11, "01-Mai-17", 1, "2017-05-01"},   {11, "12-JAN-2017", 1, "2020-01-12"},
      {11, "12-XYZ-17", 1, "2021-03-04"},   {11, "12-JANUARY-17", 1, "2021-03-04"},
      {11, "x 12-JAN-17 10:20:30", 3, "2017-01-12"},
      {7, "07-06-2017", 1, "2021-03-04"}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(Format(DateParse(row.layout, row.text, row.startPos, clock_)),
              row.expected + std::string(" 00:00:00"))
        << "layout " << row.layout << " '" << row.text << "' from " << row.startPos;
  }
}

TEST_F(DateTimeTest, ExtractDateTimeCutsStamps) {
  const DateTime fallback{2010, 10, 10, 10, 10, 10};
  struct Row {
    std::string text;
    const char* expected;
    std::string remaining;
  } rows[] = {
      {"NACK ALARM 12-JAN-17 10:20:30 Fire detector", "2017-01-12 10:20:30",
       "NACK ALARM Fire detector"},
      {"ACK  NORMAL  Door-open  ", "2010-10-10 10:10:10", "ACK  NORMAL  Door-open  "},
      // Never back: after the first cut the second stamp starts before the search.
      {"A 12-JAN-17 10:20:30 13-FEB-18 11:00:00 B", "2017-01-12 10:20:30",
       "A 13-FEB-18 11:00:00 B"},
      {"A 12-JAN-17 10:20:30 x y z 13-FEB-18 11:00:00 B", "2018-02-13 11:00:00", "A x y z B"},
      {"NACK ALARM 12-XYZ-17 10:20:30 Fire", "2021-03-04 10:20:30", "NACK ALARM Fire"},
      {"2-JAN-17 10:20:30 Fire", "2010-10-10 10:10:10", "2-JAN-17 10:20:30 Fire"},
      {"NACK  ALARM 12-JAN-17 10:20:30\tFire", "2017-01-12 10:20:30", "NACK ALARM /Fire"},
      {"X 31-DEC-17 23:59:60 Y", "2018-01-01 00:00:00", "X Y"},
      {"X 12-JAN-17T10:20:30 Y", "2017-01-12 10:20:30", "X Y"},
      {"X 12-JAN-17 10:20:", "2017-01-12 10:20:00", "X"},  // the stamp runs past the end
      {"X 12-JAN-17 10:20", "2010-10-10 10:10:10", "X 12-JAN-17 10:20"},
      {std::string(40000, 'x') + " 12-JAN-17 10:20:30 tail", "2017-01-12 10:20:30",
       std::string(40000, 'x') + " tail"}};  // beyond 32767 characters
  for (const Row& row : rows) {
    std::string text = row.text;
    EXPECT_EQ(Format(ExtractDateTime(fallback, text, clock_)), row.expected)
        << row.text.substr(0, 50);
    EXPECT_EQ(text, row.remaining) << row.text.substr(0, 50);
  }
}

}  // namespace
}  // namespace tarvel
