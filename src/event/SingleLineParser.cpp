#include "event/SingleLineParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "text/LineWords.h"
#include "text/TextFields.h"

namespace tarvel {
namespace {

constexpr int DateLayout = 5;  // DD?MM?YYYY
constexpr int TimeLayout = 1;  // HH?MM?SS
constexpr int64_t SecondsPerDay = 86400;

// Where the tag starts (after the state word and its blanks): a 10-character date, a blank and
// an 8-character time come first. An 8-character date shifts the columns by one.
constexpr std::size_t RestStart = 19;
constexpr std::size_t TagLength = 18;

std::string_view Rest(std::string_view text, std::size_t from) {
  return from < text.size() ? std::string_view(text.data() + from, text.size() - from)
                            : std::string_view();
}

// The date with the time of day of a span from midnight, which may exceed a day or be negative.
DateTime WithTimeOfDay(DateTime date, int64_t seconds) {
  if (seconds < 0 || seconds >= SecondsPerDay) {
    seconds %= SecondsPerDay;
    if (seconds < 0) seconds += SecondsPerDay;
  }
  // Within a day: 32-bit unsigned arithmetic, which divides by a constant more cheaply.
  const auto inDay = static_cast<uint32_t>(seconds);
  const uint32_t minutes = inDay / 60;
  date.Hour = static_cast<int>(minutes / 60);
  date.Minute = static_cast<int>(minutes % 60);
  date.Second = static_cast<int>(inDay % 60);
  return date;
}

// Where the next blank stands from `from` on, or the text's end. The date and time words are
// short: a plain loop finds the blank sooner than a library search would start.
std::size_t BlankAtOrAfter(std::string_view text, std::size_t from) {
  while (from < text.size() && text[from] != ' ') ++from;
  return from;
}

// The usual stamp, "DD-MM-YYYY HH:MM:SS" in digits at the start of the fields, with a date and a
// time of day that need no carrying: read where it stands, as the general reading below (the
// blank search, DateParse and TimeParse) would read it. What follows the seconds is not read
// there either.
bool UsualStamp(std::string_view fields, DateTime& stamp) {
  if (fields.size() < 19 || fields[10] != ' ') return false;
  // The separators are not read, but a blank there would end a field early.
  if (fields[2] == ' ' || fields[5] == ' ' || fields[13] == ' ' || fields[16] == ' ') return false;
  const int hour = PlainDigits(fields, 11, 2);
  const int minute = PlainDigits(fields, 14, 2);
  const int second = PlainDigits(fields, 17, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
  const int day = PlainDigits(fields, 0, 2);
  const int month = PlainDigits(fields, 3, 2);
  const int year = PlainDigits(fields, 6, 4);
  // MakeDate's own case of a date as written, taken without the call (2 to 3 ns a line): every
  // month has a 28th, and a year of three or four digits is taken as it is.
  const bool written = year >= 100 && month >= 1 && month <= 12 && day >= 1 && day <= 28;
  if (written) {
    stamp.Year = year;
    stamp.Month = month;
    stamp.Day = day;
  } else if (day < 0 || month < 0 || year < 0 || !MakeDate(year, month, day, stamp)) {
    return false;
  }
  stamp.Hour = hour;
  stamp.Minute = minute;
  stamp.Second = second;
  return true;
}

}  // namespace

SingleLineParse ParseSingleLine(std::string_view line, const Clock& clock) {
  std::size_t position = 0;
  const std::string_view stateWord = NextWord(line, position);
  // The first blank ends the state word, unless the line starts with one.
  const bool leadingBlank = !line.empty() && line.front() == ' ';
  const std::string_view fields =
      leadingBlank ? TrimBlanks(line) : TrimBlanks(Rest(line, position));
  // Read first, though the line may yet be rejected: the stamp's fields are then long written
  // when the result is copied out. Read just before, the copy would wait for them, longer than
  // the parse takes.
  DateTime stamp;
  const bool usualStamp = UsualStamp(fields, stamp);
  const std::string_view rest = TrimBlanks(Rest(fields, RestStart));
  const std::string_view tag =
      TrimBlanks(std::string_view(rest.data(), std::min(rest.size(), TagLength)));
  const std::string_view text = TrimBlanks(Rest(rest, TagLength));
  if (tag.empty() || text.empty()) return {SingleLineParse::Outcome::TagOrTextMissing, rest, {}};
  const std::optional<EventState> state = StateOfWord(stateWord, MessageFormat::SingleLine);
  if (!state) return {SingleLineParse::Outcome::UnknownStateWord, rest, {}};
  if (!usualStamp) {
    // The date and the time are the first two fields of `fields` split at single blanks.
    const std::size_t dateEnd = BlankAtOrAfter(fields, 0);
    const std::string_view dateField = fields.substr(0, dateEnd);
    const std::size_t timeStart = std::min(dateEnd + 1, fields.size());
    const std::string_view timeField =
        fields.substr(timeStart, BlankAtOrAfter(fields, timeStart) - timeStart);
    const DateTime date = DateParse(DateLayout, dateField, 1, clock);
    const int64_t time = TimeParse(TimeLayout, timeField, 1, clock);
    stamp = WithTimeOfDay(date, time);
  }
  return {SingleLineParse::Outcome::Parsed, rest, {*state, stamp, tag, text}};
}

}  // namespace tarvel
