#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace tarvel {

// Date and time fields of TARVEL80 lines. None of these fails: text that holds no date or time
// still gives a value by the carry rules below, or the default.
//
// Numbers are read from fixed character positions with the leading-number rule (NumericValue),
// rounded half to even; a field outside -32768..32767 makes the whole date or time fall back to
// the default.
//
// Length: texts of any length are handled whole. Positions are size_t and count characters
// from 1; a position past the end reads as the empty text. A stamp beyond character 32767 is
// found and cut like any other.

// A calendar date and a time of day, to the second.
struct DateTime {
  int Year = 2000;
  int Month = 1;
  int Day = 1;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;

  static DateTime FromLocalTime(const LocalTime& time);
  // The value moved by `seconds` (negative moves back); spans of a day or more move the date.
  // Shifts beyond +-10^12 seconds (about 31,700 years) are cut to that bound; the result is not
  // held to the years 100-9999.
  DateTime PlusSeconds(int64_t seconds) const;
  bool operator==(const DateTime&) const = default;
};

// "YYYY-MM-DD" and "HH:NN:SS" (24-hour, the time of day only), the one way dates and times are
// written. `separator` replaces "-" or ":" (the log file's name is "YYYYMMDD"); a `yearDigits`
// of 2 writes the year within its century ("YY-MM-DD"). A field wider than its digits is written
// whole. A span from TimeParse is written as FormatTime(DateTime{}.PlusSeconds(span)), which
// shows its time of day.
std::string FormatDate(const DateTime& value, std::string_view separator = "-", int yearDigits = 4);
std::string FormatTime(const DateTime& value, std::string_view separator = ":");
// FormatDate(value) and FormatTime(value), appended to `out` (an event line) in place.
void AppendDate(std::string& out, const DateTime& value);
void AppendTime(std::string& out, const DateTime& value);

// The usual value, every field within its digits (years 0-9999), written as AppendDate and
// AppendTime would, side by side: "YYYY-MM-DD" at out[0..9] and "HH:NN:SS" at out[11..18];
// out[10] is left to the caller. False, and nothing written, for another value. For lines
// built in place.
constexpr std::size_t UsualDateLength = 10;
constexpr std::size_t UsualStampLength = UsualDateLength + 1 + 8;
bool WriteUsualStamp(char* out, const DateTime& value);

// `count` plain digits from 0-based `at` on: their value; -1 when the text is shorter or holds
// anything else there. Nearly every date and time field is read by this alone: DateParse and
// TimeParse read plain digits so before any other rule, and give the same as MakeDate and
// hours * 3600 + minutes * 60 + seconds of them.
inline int PlainDigits(std::string_view s, std::size_t at, std::size_t count) {
  if (at + count > s.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    const unsigned digit = static_cast<unsigned char>(s[i]) - unsigned{'0'};  // one test, not two
    if (digit > 9) return -1;
    value = value * 10 + static_cast<int>(digit);
  }
  return value;
}

// A date at 00:00:00 from year, month and day with the carry rules of the TARVEL80 fields:
// years 0-29 are 2000-2029, 30-99 are 1930-1999, others are taken as they are; a month outside
// 1-12 carries into the year (0 is December of the year before), a day outside the month into
// the months (0 is the last day of the month before). False, and `result` untouched, when the
// date falls outside the years 100 to 9999 or an argument is outside the 32-bit range.
bool MakeDate(int64_t year, int64_t month, int64_t day, DateTime& result);

// Reads a date from the text from position startPos (from 1; 0 counts as 1) on.
// Layout 5: DD?MM?YYYY (day at 1-2, month at 4-5, year at 7-10; 3 and 6 not looked at).
// Layout 11: DD-MON-YY: day and year are fields 0 and 2 of the first 9 characters split at "-"
// (the year is 2000 + the field), the month name is field 1 of the whole text split at "-",
// upper-cased (JAN J\xC4N FEB MAR M\xC4R APR MAY MAI MAJ JUN JUL AUG SEP OKT OCT NOV DEC DEZ).
// The default, for an unknown month name, another layout or a date that cannot be formed, is
// today's date at 00:00:00, read from the clock at the start of the call.
DateTime DateParse(int dateLayout, std::string_view text, std::size_t startPos, const Clock& clock);

// Reads a time, layout 1: HH?MM?SS (3 and 6 not looked at), as seconds from midnight; seconds
// and minutes of 60 or more carry, negative values borrow, so the span may exceed a day or be
// negative. The default (another layout, a field outside the 16-bit range) is the clock's
// current time of day.
int64_t TimeParse(int timeLayout, std::string_view text, std::size_t startPos, const Clock& clock);

// Finds time stamps DD-MON-YY HH:MM:SS in the text: at every "-" from the left that stands at
// position 3 or later with "-" 4, ":" 10 and ":" 13 characters after it, the 18 characters from
// 2 before it are read (layout 11 and layout 1), cut out, and the rest of the text cleaned
// (CleanText); the search goes on one after that "-" in the new text and never goes back. The
// result is the last stamp cut out. With no stamp: none, and the text unchanged (not cleaned
// either). The text keeps its memory.
std::optional<DateTime> ExtractStamp(std::string& text, const Clock& clock);
// The same with `defaultValue` where the text holds no stamp.
inline DateTime ExtractDateTime(const DateTime& defaultValue, std::string& text,
                                const Clock& clock) {
  return ExtractStamp(text, clock).value_or(defaultValue);
}

}  // namespace tarvel
