#pragma once

#include <cstdint>
#include <string>

#include "platform/Clock.h"

namespace tarvel {

// A calendar date and a time of day, to the second.
struct DateTime {
  int Year = 2000;
  int Month = 1;
  int Day = 1;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;

  static DateTime FromLocalTime(const LocalTime& time);
  // The date with `seconds` added (negative moves back); spans of a day or more move the date.
  DateTime PlusSeconds(int64_t seconds) const;
  bool operator==(const DateTime&) const = default;
};

// "YYYY-MM-DD" and "HH:NN:SS".
std::string FormatDate(const DateTime& value);
std::string FormatTime(const DateTime& value);

// A date from year, month and day with the carry rules of the TARVEL80 fields: years 0-29 are
// 2000-2029, 30-99 are 1930-1999; months and days outside their range carry. Nothing when the
// result falls outside the years 100 to 9999.
bool MakeDate(int64_t year, int64_t month, int64_t day, DateTime& result);

// Reads a date from the text from position startPos (1-based) on. Layout 5: DD?MM?YYYY;
// layout 11: DD-MON-YY. Never fails: the default is today's date at 00:00:00.
DateTime DateParse(int dateLayout, std::string_view text, int startPos, const Clock& clock);

// Reads a time of day, layout 1: HH?MM?SS, as seconds from midnight (may exceed a day, may be
// negative). The default is the current time of day.
int64_t TimeParse(int timeLayout, std::string_view text, int startPos, const Clock& clock);

// Finds time stamps DD-MON-YY HH:MM:SS in the text, cuts each one out (the text is then
// cleaned) and returns the last one found; with no stamp, the default and the text unchanged.
DateTime ExtractDateTime(const DateTime& defaultValue, std::string& text, const Clock& clock);

}  // namespace tarvel
