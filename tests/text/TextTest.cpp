#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "fakes/FakeClock.h"
#include "platform/ProgramLayout.h"
#include "support/AllByteValues.h"
#include "support/TempFolder.h"
#include "text/AddressText.h"
#include "text/CharsetConversion.h"
#include "text/DateTime.h"
#include "text/IniFile.h"
#include "text/NumericValue.h"
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
  // Every length of text and of blank run on either side of the eight-character steps, with
  // characters that are a blank but for one bit, or past 127.
  using namespace std::string_view_literals;
  for (const std::string_view kept :
       {""sv, "x"sv, "\xA0"sv, "\x21"sv, "\x00"sv, "a\xFF b  c"sv, "0123456789ab"sv}) {
    for (std::size_t lead = 0; lead <= 9; lead += 3) {
      for (std::size_t trail = 0; trail <= 17; ++trail) {
        const std::string text =
            std::string(lead, ' ') + std::string(kept) + std::string(trail, ' ');
        const std::string_view trimmed = TrimBlanks(text);
        EXPECT_EQ(trimmed, kept) << lead << " + '" << kept << "' + " << trail;
        if (!kept.empty()) {
          EXPECT_EQ(trimmed.data(), text.data() + lead);
        }
      }
    }
  }
  EXPECT_EQ(TrimBlanks(" \ta\t ", " \t"), "a");
  // Below each code of the first text, what it becomes.
  EXPECT_EQ(UpperCase("az`{A\xE0\xF6\xF7\xFE\xFF\xDF"), "AZ`{A\xC0\xD6\xF7\xDE\xFF\xDF");
}

constexpr double Infinity = std::numeric_limits<double>::infinity();

TEST(NumericValue, ReadsTheLeadingNumber) {
  const std::pair<std::string, double> rows[] = {
      // clang-format off
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
  for (const auto& [text, expected] : rows)
    EXPECT_EQ(NumericValue(text), expected) << text.substr(0, 40);
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

// The C library's reading of the text, the one the addresses of a configuration were always
// read with.
template <size_t Size>
std::optional<std::array<uint8_t, Size>> LibraryReading(const std::string& text) {
  std::array<uint8_t, Size> bytes{};
  if (inet_pton(Size == 4 ? AF_INET : AF_INET6, text.c_str(), bytes.data()) != 1)
    return std::nullopt;
  return bytes;
}

// The edges of both forms, then texts made of the characters an address is written with, so
// that every path is taken.
TEST(AddressTextTest, ReadsAsTheCLibraryDoes) {
  std::vector<std::string> texts = {// clang-format off
      "", "1.2.3.4", "255.255.255.255", "256.1.1.1", "01.2.3.4", "0.0.0.0", "1.2.3",
      "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.4.", " 1.2.3.4", "1.2.3.4 ", "1.2.3.04",
      "0x1.2.3.4", "::", "::1", "1::", "1:", ":1", ":::", "1:2:3:4:5:6:7:8",
      "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7::8", "1:2:3:4:5:6:7::", "::1:2:3:4:5:6:7", "1::2::3",
      "12345::", "fFfF::", "g::", "::ffff:10.0.0.1", "::10.0.0.1", "1:2:3:4:5:6:1.2.3.4",
      "1:2:3:4:5:6:7:1.2.3.4", "::1.2.3", "::1.2.3.4:5", "fe80::1%eth0", "1:2:3:4:5:6:7:8:",
      "::ffff:1.2.3.256", "1:2:3:4:5:6::1.2.3.4", "abcd::1.2.3.4"};
  // clang-format on
  std::mt19937 random(21);
  const std::string alphabet = "0123456789abcdefABCDEFgx:.:.:";
  for (int round = 0; round < 50000; ++round) {
    std::string& text = texts.emplace_back(random() % 24, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
  }
  for (const std::string& text : texts) {
    EXPECT_EQ(ParseIpv4Address(text), LibraryReading<4>(text)) << "IPv4 " << text;
    EXPECT_EQ(ParseIpv6Address(text), LibraryReading<16>(text)) << "IPv6 " << text;
  }
}

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
  const std::pair<int64_t, const char*> rows[] = {
      // clang-format off
      {0, "2017-12-31 23:10:20"}, {2979, "2017-12-31 23:59:59"}, {2980, "2018-01-01 00:00:00"},
      {2980 + 5025, "2018-01-01 01:23:45"},
      {2980 + 7201, "2018-01-01 02:00:01"},  // the hour whole, not cut at 3601 s
      {2980 + 59 * 86400 + 86399, "2018-03-01 23:59:59"},
      {-83420, "2017-12-31 00:00:00"}, {-83421, "2017-12-30 23:59:59"},
      {-83420 - 86400 * 365 - 3 * 3600 - 17 * 60 - 9, "2016-12-30 20:42:51"},
      {2980 + 2915365 * int64_t{86400}, "10000-01-01 00:00:00"}};  // a year wider than 4 digits
  // clang-format on
  for (const auto& [seconds, expected] : rows)
    EXPECT_EQ(Format(evening.PlusSeconds(seconds)), expected) << seconds << " s";
}

// Seconds from midnight; characters 3 and 6 are not looked at, minutes and seconds carry, text
// without a number reads as 0, and only another layout takes the time of day.
TEST_F(DateTimeTest, TimeParseReadsFixedPositionsAndCarries) {
  const int64_t now = 5 * 3600 + 6 * 60 + 7;
  const struct Row {
    int layout;
    const char* text;
    int64_t seconds;
  } rows[] = {// clang-format off
      {1, "10:20:30", 37230}, {1, "10120130", 37230}, {1, "10:75:30", 40530},
      {1, "25:00:61", 90061}, {1, " 9: 5: 7 x", 32707}, {1, "-1:00:00", -3600},
      {1, "ab:cd:ef", 0}, {1, "", 0}, {2, "10:20:30", now}};
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(TimeParse(row.layout, row.text, 1, clock_), row.seconds)
        << row.layout << " \"" << row.text << "\"";
}

TEST_F(DateTimeTest, DateParseReadsFixedPositionsOrMonthNames) {
  // A field beyond 16 bits, a date beyond 9999, an unknown month name or layout give today; day
  // and year of layout 11 come from the first 9 characters.
  const struct Row {
    int layout;
    const char* text;
    std::size_t startPos;
    const char* expected;
  } rows[] = {// clang-format off
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

TEST(IniFile, ReadsValuesTheWayTheWindowsReaderDoes) {
  const std::string x3000(3000, 'x');
  const struct Row {
    std::string text;
    const char* section;
    const char* key;
    std::string expected;
  } rows[] = {// clang-format off
      {"[General]\nOstrelPort=14001\n", "general", "OSTRELPORT", "14001"},
      {"[ General ]\n  Key  =  a value  \n", "General", "Key", "a value"},
      {"[G]\nKey=\t\"quoted\"\t\n", "G", "Key", "quoted"},
      {"[G]\nKey=' single '\n", "G", "Key", " single "},
      {"[G]\nKey=\"a\"b\"\n", "G", "Key", "a\"b"}, {"[G]\nKey=\"mixed'\n", "G", "Key", "\"mixed'"},
      {"[G]\nKey=\"\"\n", "G", "Key", ""}, {"[G]\r\nKey=crlf\r\nOther=x\r\n", "G", "Key", "crlf"},
      {"[G]\nKey=first\nKEY=second\n", "G", "Key", "first"},
      {"[G]\nKey=first\n[H]\nKey=h\n[g]\nKey=second\nLate=found\n", "G", "Late", "found"},
      {"[G]\nKey=first\n[H]\nKey=h\n[g]\nKey=second\n", "G", "Key", "first"},
      {"[G]\n; Key=comment\nKey=real\n", "G", "Key", "real"}, {"[G]\n#Key=hash\n", "G", "#Key", "hash"},
      {"[G]\nKey without equals\n", "G", "Key without equals", "default"},
      {"Key=before any section\n[G]\n", "G", "Key", "default"},
      {"[G\nKey=unclosed\n", "G", "Key", "unclosed"}, {"[G] ; note\nKey=v\n", "G", "Key", "v"},
      {"[G]\nKey=v ; no comment\n", "G", "Key", "v ; no comment"},
      {std::string("[G]\nKey=a\0b\n", 11), "G", "Key", std::string("a\0b", 3)},
      {"[G]\nKey=" + x3000 + "\n", "G", "Key", x3000.substr(0, 2047)},
      {"[G]\n" + std::string(1 << 20, 'y') + "\nKey=after", "G", "Key", "after"}};
  // clang-format on
  for (const Row& row : rows) {
    const IniFile ini = IniFile::FromText(row.text);
    EXPECT_EQ(ini.ReadIniValue(row.section, row.key, "default"), row.expected)
        << "file: \"" << row.text.substr(0, 60) << "\" [" << row.section << "] " << row.key;
  }
}

TEST(IniFile, LoadsFromDiskAndGivesDefaultsForWhatCannotBeRead) {
  TempFolder folder;
  const std::string fifo = folder.Path() + "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  folder.Write(ProgramLayout::ConfigFileName, "[General]\r\nOstrelPort=15000\r\n");
  // A pipe without a writer must not stall the start either. A missing file is no problem.
  const struct Row {
    std::string path;
    const char* value;
    const char* problem;
  } rows[] = {// clang-format off
      {folder.Path() + ProgramLayout::ConfigFileName, "15000", ""}, {"", "14000", ""},
      {folder.Path() + "missing.ini", "14000", ""}, {fifo, "14000", "not a regular file"},
      {folder.Path(), "14000", "not a regular file"}};
  // clang-format on
  for (const Row& row : rows) {
    std::string problem = "left over";
    const IniFile ini = IniFile::Load(row.path, problem);
    EXPECT_EQ(ini.ReadIniValue("General", "OstrelPort", "14000"), row.value) << row.path;
    EXPECT_EQ(problem, row.problem) << row.path;
  }
}

}  // namespace
}  // namespace tarvel
