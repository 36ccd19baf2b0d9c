#include "text/DateTime.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "text/NumericValue.h"
#include "text/TextFields.h"

namespace tarvel {

namespace {

constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t MaxShiftSeconds = 1'000'000'000'000;
constexpr int FirstYear = 100;
constexpr int LastYear = 9999;

struct CivilDate {
  int64_t year;
  int64_t month;  // 1..12
  int64_t day;    // 1..31
};

int64_t FloorDiv(int64_t value, int64_t divisor) {
  const int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

int64_t FloorMod(int64_t value, int64_t divisor) {
  return value - FloorDiv(value, divisor) * divisor;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
int64_t DaysFromCivil(CivilDate date) {
  const int64_t year = date.year - (date.month <= 2 ? 1 : 0);
  const int64_t era = FloorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t shiftedMonth = date.month > 2 ? date.month - 3 : date.month + 9;  // March = 0
  const int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + date.day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

CivilDate CivilFromDays(int64_t days) {
  const int64_t shifted = days + 719468;
  const int64_t era = FloorDiv(shifted, 146097);
  const int64_t dayOfEra = shifted - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool IsLeapYear(int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int64_t DaysInMonth(int64_t year, int64_t month) {
  constexpr int64_t Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

// MakeDate of a month or day outside its range, the year already taken into its century; apart,
// so that the usual date is formed inline.
bool CarriedDate(int64_t year, int64_t month, int64_t day, DateTime& result) {
  const int64_t monthCount = year * 12 + (month - 1);
  const CivilDate firstOfMonth{FloorDiv(monthCount, 12), FloorMod(monthCount, 12) + 1, 1};
  const CivilDate date = CivilFromDays(DaysFromCivil(firstOfMonth) + (day - 1));
  if (date.year < FirstYear || date.year > LastYear) return false;
  result = DateTime{static_cast<int>(date.year), static_cast<int>(date.month),
                    static_cast<int>(date.day)};
  return true;
}

// The characters from 1-based position `pos` on, at most `count` of them; empty past the end.
std::string_view Mid(std::string_view text, std::size_t pos,
                     std::size_t count = std::string_view::npos) {
  const std::size_t start = pos == 0 ? 0 : pos - 1;
  return start >= text.size() ? std::string_view{} : text.substr(start, count);
}

DateTime Today(const Clock& clock) {
  DateTime today = DateTime::FromLocalTime(clock.Now());
  today.Hour = today.Minute = today.Second = 0;
  return today;
}

int64_t TimeOfDaySeconds(const LocalTime& time) {
  return int64_t{time.Hour} * 3600 + int64_t{time.Minute} * 60 + time.Second;
}

struct MonthName {
  std::string_view name;
  int month;
};

constexpr std::array<MonthName, 18> MonthNames{{
    {"JAN", 1},
    {"J\xC4N", 1},
    {"FEB", 2},
    {"MAR", 3},
    {"M\xC4R", 3},
    {"APR", 4},
    {"MAY", 5},
    {"MAI", 5},
    {"MAJ", 5},
    {"JUN", 6},
    {"JUL", 7},
    {"AUG", 8},
    {"SEP", 9},
    {"OKT", 10},
    {"OCT", 10},
    {"NOV", 11},
    {"DEC", 12},
    {"DEZ", 12},
}};

// The month of a name, compared after upper-casing; nothing for an unknown name.
std::optional<int> MonthFromName(std::string_view field) {
  constexpr std::size_t NameLength = 3;
  if (field.size() != NameLength) return std::nullopt;
  std::array<char, NameLength> upper{};
  std::transform(field.begin(), field.end(), upper.begin(), UpperCaseChar);
  const std::string_view key(upper.data(), upper.size());
  for (const MonthName& entry : MonthNames) {
    if (entry.name == key) return entry.month;
  }
  return std::nullopt;
}

// IntegerValue of a field, read directly when it is one to four plain digits, as nearly every
// field is.
std::optional<int16_t> FieldValue(std::string_view field) {
  if (!field.empty() && field.size() <= 4) {
    const int plain = PlainDigits(field, 0, field.size());
    if (plain >= 0) return static_cast<int16_t>(plain);
  }
  return IntegerValue(field);
}

// DD?MM?YYYY.
bool NumericDate(std::string_view s, DateTime& date) {
  const int plainDay = PlainDigits(s, 0, 2);
  const int plainMonth = PlainDigits(s, 3, 2);
  const int plainYear = PlainDigits(s, 6, 4);
  if (plainDay >= 0 && plainMonth >= 0 && plainYear >= 0) {
    return MakeDate(plainYear, plainMonth, plainDay, date);
  }
  const std::optional<int16_t> day = IntegerValue(Mid(s, 1, 2));
  const std::optional<int16_t> month = IntegerValue(Mid(s, 4, 2));
  const std::optional<int16_t> year = IntegerValue(Mid(s, 7, 4));
  return day && month && year && MakeDate(*year, *month, *day, date);
}

// DD-MON-YY; only two-digit years, of this century.
bool MonthNameDate(std::string_view s, DateTime& date) {
  constexpr std::string_view Dash = "-";
  const std::optional<int> month = MonthFromName(GetFieldView(s, 1, Dash));
  if (!month) return false;
  const std::string_view head = s.substr(0, 9);
  const std::optional<int16_t> day = FieldValue(GetFieldView(head, 0, Dash));
  const std::optional<int16_t> yearInCentury = FieldValue(GetFieldView(head, 2, Dash));
  return day && yearInCentury && MakeDate(2000 + *yearInCentury, *month, *day, date);
}

// Cuts the characters from 0-based `from` on, at most `count` of them, and cleans the text in
// its own memory. A text already clean can only gain a blank at one end or two blanks where the
// two sides meet; dropping that blank gives what CleanText would, so that a line full of stamps
// costs one move of the tail per stamp.
void CutAndClean(std::string& text, std::size_t from, std::size_t count, bool alreadyClean) {
  const std::size_t to = std::min(text.size(), from + count);
  text.erase(from, to - from);
  if (!alreadyClean) {
    CleanTextInPlace(text);
    return;
  }
  const bool blankBefore = from > 0 && text[from - 1] == ' ';
  if (from < text.size() && text[from] == ' ' && (from == 0 || blankBefore)) {
    text.erase(from, 1);
  } else if (from == text.size() && blankBefore) {
    text.pop_back();
  }
}

// "00" to "99" side by side: a pair of digits is copied from here, not divided out digit by
// digit.
constexpr std::array<char, 200> DigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int value = 0; value < 100; ++value) {
    pairs[2 * value] = static_cast<char>('0' + value / 10);
    pairs[2 * value + 1] = static_cast<char>('0' + value % 10);
  }
  return pairs;
}();

// Two digits of a value below 100, from `out` on; gives the end.
inline char* WritePair(char* out, unsigned value) {
  std::memcpy(out, DigitPairs.data() + 2 * value, 2);  // one 2-byte move
  return out + 2;
}

static_assert([] {
  for (unsigned value = 0; value < 10000; ++value) {
    if ((value * 5243 >> 19) != value / 100) return false;
  }
  return true;
}());

// Four digits of a value below 10000.
inline char* WriteFourDigits(char* out, unsigned value) {
  // value / 100 by a multiplication: here the compiler would emit a division instruction, which
  // costs as much as the rest of the stamp. Exact below 43699, so for every 4-digit value.
  const unsigned hundreds = value * 5243 >> 19;
  return WritePair(WritePair(out, hundreds), value - hundreds * 100);
}

// A value of two or four digits (`width`), zero-padded, from `out` on; gives the end. Dates and
// times have no other widths.
char* WriteDigits(char* out, unsigned value, int width) {
  return width == 4 ? WriteFourDigits(out, value) : WritePair(out, value);
}

// The value fits the width WriteDigits writes.
bool FitsDigits(int value, int width) {
  return (width == 2 && value >= 0 && value < 100) || (width == 4 && value >= 0 && value < 10000);
}

// Three numbers joined by a separator, each zero-padded to its width ("2017-06-07",
// "10:20:30"), appended to `out`.
void AppendFields(std::string& out, const int (&values)[3], const int (&widths)[3],
                  std::string_view separator) {
  bool usual = true;
  std::size_t length = 2 * separator.size();
  for (int i = 0; i < 3; ++i) {
    usual = usual && FitsDigits(values[i], widths[i]);
    length += static_cast<std::size_t>(widths[i]);
  }
  if (!usual) {
    for (int i = 0; i < 3; ++i) {
      if (i > 0) out += separator;
      char number[16];
      std::snprintf(number, sizeof number, "%0*d", widths[i], values[i]);
      out += number;
    }
    return;
  }
  std::size_t at = out.size();
  out.resize(at + length);
  char* text = out.data() + at;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) text = std::copy(separator.begin(), separator.end(), text);
    text = WriteDigits(text, static_cast<unsigned>(values[i]), widths[i]);
  }
}

}  // namespace

DateTime DateTime::FromLocalTime(const LocalTime& time) {
  return {time.Year, time.Month, time.Day, time.Hour, time.Minute, time.Second};
}

DateTime DateTime::PlusSeconds(int64_t seconds) const {
  seconds = std::clamp(seconds, -MaxShiftSeconds, MaxShiftSeconds);
  const int64_t total = int64_t{Hour} * 3600 + int64_t{Minute} * 60 + Second + seconds;
  if (total >= 0 && total < SecondsPerDay) {
    // The same day, as for a time of day added to a date: no calendar arithmetic.
    return {Year,
            Month,
            Day,
            static_cast<int>(total / 3600),
            static_cast<int>(total / 60 % 60),
            static_cast<int>(total % 60)};
  }
  const int64_t days = DaysFromCivil({Year, Month, Day}) + FloorDiv(total, SecondsPerDay);
  const int64_t timeOfDay = FloorMod(total, SecondsPerDay);
  const CivilDate date = CivilFromDays(days);
  return {static_cast<int>(date.year),
          static_cast<int>(date.month),
          static_cast<int>(date.day),
          static_cast<int>(timeOfDay / 3600),
          static_cast<int>(timeOfDay / 60 % 60),
          static_cast<int>(timeOfDay % 60)};
}

std::string FormatDate(const DateTime& value, std::string_view separator, int yearDigits) {
  const int year = yearDigits == 2 ? (value.Year % 100 + 100) % 100 : value.Year;
  std::string text;
  AppendFields(text, {year, value.Month, value.Day}, {yearDigits == 2 ? 2 : 4, 2, 2}, separator);
  return text;
}

std::string FormatTime(const DateTime& value, std::string_view separator) {
  std::string text;
  AppendFields(text, {value.Hour, value.Minute, value.Second}, {2, 2, 2}, separator);
  return text;
}

void AppendDate(std::string& out, const DateTime& value) {
  AppendFields(out, {value.Year, value.Month, value.Day}, {4, 2, 2}, "-");
}

void AppendTime(std::string& out, const DateTime& value) {
  AppendFields(out, {value.Hour, value.Minute, value.Second}, {2, 2, 2}, ":");
}

bool WriteUsualStamp(char* out, const DateTime& value) {
  if (!FitsDigits(value.Year, 4) || !FitsDigits(value.Month, 2) || !FitsDigits(value.Day, 2) ||
      !FitsDigits(value.Hour, 2) || !FitsDigits(value.Minute, 2) || !FitsDigits(value.Second, 2)) {
    return false;
  }
  out = WriteFourDigits(out, static_cast<unsigned>(value.Year));
  *out++ = '-';
  out = WritePair(out, static_cast<unsigned>(value.Month));
  *out++ = '-';
  out = WritePair(out, static_cast<unsigned>(value.Day));
  ++out;  // the caller's
  out = WritePair(out, static_cast<unsigned>(value.Hour));
  *out++ = ':';
  out = WritePair(out, static_cast<unsigned>(value.Minute));
  *out++ = ':';
  WritePair(out, static_cast<unsigned>(value.Second));
  return true;
}

bool MakeDate(int64_t year, int64_t month, int64_t day, DateTime& result) {
  constexpr int64_t Limit = std::numeric_limits<int32_t>::max();
  for (const int64_t argument : {year, month, day}) {
    if (argument < -Limit || argument > Limit) return false;
  }
  if (year >= 0 && year <= 29) {
    year += 2000;
  } else if (year >= 30 && year <= 99) {
    year += 1900;
  }
  if (month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month)) {
    // A date as written needs no carrying.
    if (year < FirstYear || year > LastYear) return false;
    result = DateTime{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
    return true;
  }
  return CarriedDate(year, month, day, result);
}

DateTime DateParse(int dateLayout, std::string_view text, std::size_t startPos,
                   const Clock& clock) {
  const std::string_view s = Mid(text, startPos);
  // One object returned on every path, so it is formed in place: a copy of it read back right
  // after its fields were written stalls the processor longer than the parse takes.
  DateTime date;
  if ((dateLayout == 5 && NumericDate(s, date)) || (dateLayout == 11 && MonthNameDate(s, date))) {
    return date;
  }
  // The clock is read only when the default is needed: reading it costs more than the parse.
  date = Today(clock);
  return date;
}

int64_t TimeParse(int timeLayout, std::string_view text, std::size_t startPos, const Clock& clock) {
  if (timeLayout != 1) return TimeOfDaySeconds(clock.Now());
  const std::string_view s = Mid(text, startPos);
  const int plainHours = PlainDigits(s, 0, 2);
  const int plainMinutes = PlainDigits(s, 3, 2);
  const int plainSeconds = PlainDigits(s, 6, 2);
  if (plainHours >= 0 && plainMinutes >= 0 && plainSeconds >= 0) {
    return int64_t{plainHours} * 3600 + int64_t{plainMinutes} * 60 + plainSeconds;
  }
  const std::optional<int16_t> hours = IntegerValue(Mid(s, 1, 2));
  const std::optional<int16_t> minutes = IntegerValue(Mid(s, 4, 2));
  const std::optional<int16_t> seconds = IntegerValue(Mid(s, 7, 2));
  if (!hours || !minutes || !seconds) return TimeOfDaySeconds(clock.Now());
  return int64_t{*hours} * 3600 + int64_t{*minutes} * 60 + *seconds;
}

std::optional<DateTime> ExtractStamp(std::string& text, const Clock& clock) {
  // Offsets from the "-" after the day: the "-" after the month, and the two ":" of the time.
  constexpr std::size_t SecondDash = 4;
  constexpr std::size_t FirstColon = 10;
  constexpr std::size_t SecondColon = 13;
  constexpr std::size_t DayLength = 2;
  constexpr std::size_t StampLength = 18;
  constexpr std::size_t TimeOffset = 8;  // from the "-" to the hours

  std::optional<DateTime> result;
  bool clean = false;  // the text is cleaned at the first cut and stays clean
  for (std::size_t dash = text.find('-'); dash != std::string::npos;
       dash = text.find('-', dash + 1)) {
    // `dash` is 0-based: a stamp needs two day characters before it.
    const bool isStamp = dash >= DayLength && dash + SecondColon < text.size() &&
                         text[dash + SecondDash] == '-' && text[dash + FirstColon] == ':' &&
                         text[dash + SecondColon] == ':';
    if (!isStamp) continue;
    const std::size_t stampStart = dash - DayLength;
    const int64_t time = TimeParse(1, text, dash + TimeOffset + 1, clock);
    const DateTime date = DateParse(11, text, stampStart + 1, clock);
    result = date.PlusSeconds(time);
    CutAndClean(text, stampStart, StampLength, clean);
    clean = true;
  }
  return result;
}

}  // namespace tarvel
