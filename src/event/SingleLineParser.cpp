#include "event/SingleLineParser.h"

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
  return from < text.size() ? text.substr(from) : std::string_view();
}

// The date with the time of day of a span from midnight, which may exceed a day or be negative.
DateTime WithTimeOfDay(DateTime date, int64_t seconds) {
  seconds %= SecondsPerDay;
  if (seconds < 0) seconds += SecondsPerDay;
  date.Hour = static_cast<int>(seconds / 3600);
  date.Minute = static_cast<int>(seconds / 60 % 60);
  date.Second = static_cast<int>(seconds % 60);
  return date;
}

}  // namespace

SingleLineParse ParseSingleLine(std::string_view line, const Clock& clock, Event& event) {
  std::size_t position = 0;
  const std::string_view stateWord = NextWord(line, position);
  const std::size_t firstBlank = line.find(' ');
  const std::string_view fields = firstBlank == std::string_view::npos
                                      ? std::string_view()
                                      : TrimBlanks(line.substr(firstBlank));
  const std::string_view rest = TrimBlanks(Rest(fields, RestStart));
  const std::string_view tag = TrimBlanks(rest.substr(0, TagLength));
  const std::string_view text = TrimBlanks(Rest(rest, TagLength));
  if (tag.empty() || text.empty()) return {SingleLineParse::Outcome::TagOrTextMissing, rest};
  const std::optional<EventState> state = StateOfWord(stateWord, MessageFormat::SingleLine);
  if (!state) return {SingleLineParse::Outcome::UnknownStateWord, rest};
  const DateTime date = DateParse(DateLayout, GetFieldView(fields, 0, " "), 1, clock);
  const int64_t time = TimeParse(TimeLayout, GetFieldView(fields, 1, " "), 1, clock);
  event.State = *state;
  event.Stamp = WithTimeOfDay(date, time);
  event.Tag.assign(tag);
  event.Text.assign(text);
  return {SingleLineParse::Outcome::Parsed, rest};
}

}  // namespace tarvel
