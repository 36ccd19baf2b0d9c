#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "fakes/FakeClock.h"
#include "input/DateTime.h"

namespace tarvel {
namespace {

std::string Format(const DateTime& value) {
  return FormatDate(value) + " " + FormatTime(value);
}

class DateTimeTest : public ::testing::Test {
 protected:
  // Today is far from the dates in the tables, so a fallback shows.
  void SetUp() override { clock_.Set(2021, 3, 4, 5, 6, 7); }
  FakeClock clock_;
};

TEST(MakeDate, MapsTwoDigitYearsAndCarries) {
  struct Row {
    int64_t year, month, day;
    const char* expected;  // nullptr: not formed
  } rows[] = {
      {2017, 6, 7, "2017-06-07"},
      {0, 0, 0, "1999-11-30"},
      {29, 1, 1, "2029-01-01"},
      {30, 1, 1, "1930-01-01"},
      {99, 13, 1, "2000-01-01"},
      {2017, 2, 29, "2017-03-01"},
      {2016, 2, 29, "2016-02-29"},
      {2017, 1, 32, "2017-02-01"},
      {2017, -11, 1, "2016-01-01"},
      {2017, 25, 1, "2019-01-01"},
      {2017, 1, -366, "2015-12-31"},
      {100, 1, 1, "0100-01-01"},
      {9999, 12, 31, "9999-12-31"},
      {9999, 12, 32, nullptr},
      {100, 1, 0, nullptr},
      {-1, 1, 1, nullptr},
      {10000, 1, 1, nullptr},
      {std::numeric_limits<int64_t>::max(), 1, 1, nullptr},
      {2017, std::numeric_limits<int64_t>::min(), 1, nullptr},
  };
  for (const Row& row : rows) {
    DateTime date{1, 2, 3, 4, 5, 6};
    const DateTime untouched = date;
    const bool formed = MakeDate(row.year, row.month, row.day, date);
    const std::string name =
        std::to_string(row.year) + "/" + std::to_string(row.month) + "/" + std::to_string(row.day);
    if (row.expected == nullptr) {
      EXPECT_FALSE(formed) << name;
      EXPECT_EQ(date, untouched) << name;
    } else {
      ASSERT_TRUE(formed) << name;
      EXPECT_EQ(Format(date), std::string(row.expected) + " 00:00:00") << name;
    }
  }
}

TEST(PlusSeconds, MovesAcrossDaysMonthsAndYears) {
  struct Row {
    DateTime start;
    int64_t seconds;
    const char* expected;
  } rows[] = {
      {{2016, 2, 28, 23, 59, 59}, 1, "2016-02-29 00:00:00"},
      {{2017, 1, 1, 0, 0, 0}, -1, "2016-12-31 23:59:59"},
      {{2017, 6, 7, 10, 0, 0}, 40500, "2017-06-07 21:15:00"},
      {{2017, 12, 31, 0, 0, 0}, 2 * 86400 + 3661, "2018-01-02 01:01:01"},
      {{2000, 3, 1, 0, 0, 0}, -86400, "2000-02-29 00:00:00"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Format(row.start.PlusSeconds(row.seconds)), row.expected)
        << Format(row.start) << " + " << row.seconds;
  }
  // Far beyond any stamp: bounded, and no overflow.
  const DateTime far = DateTime{}.PlusSeconds(std::numeric_limits<int64_t>::max());
  EXPECT_GT(far.Year, 9999);
}

TEST_F(DateTimeTest, DateParseLayout5) {
  struct Row {
    const char* text;
    std::size_t startPos;
    const char* expected;
  } rows[] = {
      {"07-06-2017", 1, "2017-06-07"},
      {"07.06.2017", 1, "2017-06-07"},
      {"07-06-17", 1, "2017-06-07"},
      {"07-06-45", 1, "1945-06-07"},
      {"", 1, "1999-11-30"},
      {"00-06-2017", 1, "2017-05-31"},
      {"32-01-2017", 1, "2017-02-01"},
      {"07-00-2017", 1, "2016-12-07"},
      {"07-13-2017", 1, "2018-01-07"},
      {"1 -06-2017", 1, "2017-06-01"},
      {"07-06-16.5", 1, "2016-06-07"},  // a half rounds to the even year
      {"07-06-17.5", 1, "2018-06-07"},
      {"xx07-06-2017", 3, "2017-06-07"},
      {"07-06-2017", 0, "2017-06-07"},
      {"07-06-2017", 11, "1999-11-30"},  // past the end: every field empty
      {"07-06-9E99", 1, "2021-03-04"},   // a field beyond 16 bits: today
      {"32-12-9999", 1, "2021-03-04"},   // beyond the year 9999: today
      {"07-06--1", 1, "2021-03-04"},     // year -1 is not formed
  };
  for (const Row& row : rows) {
    const DateTime date = DateParse(5, row.text, row.startPos, clock_);
    EXPECT_EQ(Format(date), std::string(row.expected) + " 00:00:00")
        << row.text << " from " << row.startPos;
  }
}

TEST_F(DateTimeTest, DateParseLayout11) {
  struct Row {
    const char* text;
    const char* expected;
  } rows[] = {
      {"12-JAN-17", "2017-01-12"},
      {"12-j\xE4n-17", "2017-01-12"},
      {"12-J\xC4N-17", "2017-01-12"},
      {"12-feb-17", "2017-02-12"},
      {"12-m\xE4r-17", "2017-03-12"},
      {"01-Mai-17", "2017-05-01"},
      {"01-MAJ-17", "2017-05-01"},
      {"01-May-17", "2017-05-01"},
      {"01-OKT-17", "2017-10-01"},
      {"01-OCT-17", "2017-10-01"},
      {"01-DEZ-17", "2017-12-01"},
      {"12-JAN-2017", "2020-01-12"},  // only the first 9 characters give day and year
      {"12-JAN-17 10:20:30", "2017-01-12"},
      {"31-FEB-17", "2017-03-03"},
      {"00-JAN-17", "2016-12-31"},
      {"12-JAN-", "2000-01-12"},
      {"12-XYZ-17", "2021-03-04"},
      {"12-JANUARY-17", "2021-03-04"},
      {"12-JA-17", "2021-03-04"},
      {"1E9-JAN-17", "2021-03-04"},  // a day beyond 16 bits
      {"", "2021-03-04"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Format(DateParse(11, row.text, 1, clock_)), std::string(row.expected) + " 00:00:00")
        << row.text;
  }
  EXPECT_EQ(Format(DateParse(7, "07-06-2017", 1, clock_)), "2021-03-04 00:00:00");
}

TEST_F(DateTimeTest, TimeParseLayout1) {
  struct Row {
    const char* text;
    int64_t expected;
  } rows[] = {
      {"10:20:30", 10 * 3600 + 20 * 60 + 30},
      {"10.20.30", 10 * 3600 + 20 * 60 + 30},
      {"10:75:00", 11 * 3600 + 15 * 60},
      {"10:20:90", 10 * 3600 + 21 * 60 + 30},
      {"", 0},
      {"10", 10 * 3600},
      {"00:00:-5", -5},
      {"01:-5:00", 55 * 60},
      {"99:99:99", 99 * 3600 + 99 * 60 + 99},
  };
  for (const Row& row : rows)
    EXPECT_EQ(TimeParse(1, row.text, 1, clock_), row.expected) << row.text;
  EXPECT_EQ(TimeParse(1, "xx10:20:30", 3, clock_), 10 * 3600 + 20 * 60 + 30);
  EXPECT_EQ(TimeParse(2, "10:20:30", 1, clock_), 5 * 3600 + 6 * 60 + 7);  // now
  EXPECT_EQ(FormatTime(DateTime{}.PlusSeconds(-5)), "23:59:55");
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
      {"", "2010-10-10 10:10:10", ""},
      // The search goes on after the first cut but never back: the second stamp now starts
      // before the searched position.
      {"A 12-JAN-17 10:20:30 13-FEB-18 11:00:00 B", "2017-01-12 10:20:30",
       "A 13-FEB-18 11:00:00 B"},
      {"A 12-JAN-17 10:20:30 x y z 13-FEB-18 11:00:00 B", "2018-02-13 11:00:00", "A x y z B"},
      {"NACK ALARM 12-XYZ-17 10:20:30 Fire", "2021-03-04 10:20:30", "NACK ALARM Fire"},
      {"12-JAN-17 10:20:30 Fire", "2017-01-12 10:20:30", "Fire"},
      {"2-JAN-17 10:20:30 Fire", "2010-10-10 10:10:10", "2-JAN-17 10:20:30 Fire"},
      {"NACK  ALARM 12-JAN-17 10:20:30\tFire", "2017-01-12 10:20:30", "NACK ALARM /Fire"},
      {"X 31-DEC-17 23:59:60 Y", "2018-01-01 00:00:00", "X Y"},
      {"X 12-JAN-17T10:20:30 Y", "2017-01-12 10:20:30", "X Y"},
      {"12-JAN-17 10:20:30 a b c 13-FEB-18 11:00:00", "2018-02-13 11:00:00", "a b c"},
      {"X 12-JAN-17 10:20:3", "2017-01-12 10:20:03", "X"},  // the stamp runs past the end
      {"X 12-JAN-17 10:20:", "2017-01-12 10:20:00", "X"},
      {"X 12-JAN-17 10:20", "2010-10-10 10:10:10", "X 12-JAN-17 10:20"},
  };
  for (const Row& row : rows) {
    std::string text = row.text;
    const DateTime result = ExtractDateTime(fallback, text, clock_);
    EXPECT_EQ(Format(result), row.expected) << row.text;
    EXPECT_EQ(text, row.remaining) << row.text;
  }
}

TEST_F(DateTimeTest, ExtractDateTimeFindsAStampBeyond32767Characters) {
  const std::string head(40000, 'x');
  std::string text = head + " 12-JAN-17 10:20:30 tail";
  EXPECT_EQ(Format(ExtractDateTime(DateTime{}, text, clock_)), "2017-01-12 10:20:30");
  EXPECT_EQ(text, head + " tail");
}

}  // namespace
}  // namespace tarvel
