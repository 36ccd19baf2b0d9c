// The date, time and text helpers on arbitrary text. The first byte picks the clock, the
// start position, the field index and the separator; the rest is the text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "fakes/FakeClock.h"
#include "text/DateTime.h"
#include "text/TextFields.h"

namespace tarvel {
namespace {

bool IsCalendarDate(const DateTime& value) {
  DateTime same;
  return value.Hour == 0 && value.Minute == 0 && value.Second == 0 &&
         MakeDate(value.Year, value.Month, value.Day, same) && same == value;
}

// A date and time as the alarm server gets them: "YYYY-MM-DD" and "HH:NN:SS".
bool HasLayout(const std::string& text, const std::string& layout) {
  if (text.size() != layout.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (layout[i] == '9' ? !digit : text[i] != layout[i]) return false;
  }
  return true;
}

bool IsClean(const std::string& text) {
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) < 32) return false;
    if (i > 0 && text[i] == ' ' && text[i - 1] == ' ') return false;
  }
  return true;
}

void CheckDates(std::string_view text, std::size_t startPos, const Clock& clock) {
  for (const int layout : {5, 11}) {
    const DateTime date = DateParse(layout, text, startPos, clock);
    Require(IsCalendarDate(date), "DateParse gives a date of the years 100 to 9999");
    Require(HasLayout(FormatDate(date), "9999-99-99"), "a parsed date formats as YYYY-MM-DD");
  }
  constexpr int64_t Largest = 32767LL * 3600 + 32767LL * 60 + 32767;
  const int64_t span = TimeParse(1, text, startPos, clock);
  Require(span >= -Largest && span <= Largest, "TimeParse stays within its fields");
  const DateTime time = DateTime{}.PlusSeconds(span);
  Require(HasLayout(FormatTime(time), "99:99:99"), "a time of day formats as HH:NN:SS");
}

// The stamp search written the plain way, position by position from 1, cleaning the whole text
// after every cut: ExtractDateTime must leave the same text and give the same value.
DateTime PlainExtract(const DateTime& defaultValue, std::string& text, const Clock& clock) {
  const auto at = [&text](std::size_t pos) { return pos <= text.size() ? text[pos - 1] : '\0'; };
  DateTime result = defaultValue;
  for (std::size_t p = 1; p <= text.size(); ++p) {
    if (at(p) != '-' || p < 3 || at(p + 4) != '-' || at(p + 10) != ':' || at(p + 13) != ':') {
      continue;
    }
    const int64_t time = TimeParse(1, text, p + 8, clock);
    result = DateParse(11, text, p - 2, clock).PlusSeconds(time);
    const std::string after = p + 16 <= text.size() ? text.substr(p + 15) : "";
    text = CleanText(text.substr(0, p - 3) + after);
  }
  return result;
}

void CheckStamps(std::string_view input, const Clock& clock) {
  std::string text(input);
  const DateTime fallback{1999, 12, 31, 23, 59, 59};
  const DateTime result = ExtractDateTime(fallback, text, clock);
  std::string plainText(input);
  Require(PlainExtract(fallback, plainText, clock) == result, "stamp value as the plain search");
  Require(plainText == text, "text after the stamps are cut as the plain search leaves it");
  if (text == input) return;  // no stamp cut (a stamp may also leave the text as it was)
  Require(text.size() < input.size(), "a cut makes the text shorter");
  Require(IsClean(text), "the text is clean after a cut");
  Require(HasLayout(FormatDate(result), "9999-99-99"), "a stamp's date formats as YYYY-MM-DD");
  Require(HasLayout(FormatTime(result), "99:99:99"), "a stamp's time formats as HH:NN:SS");
}

void CheckFields(std::string_view text, int index, std::string separator) {
  const std::string_view field = GetFieldView(text, index, separator);
  Require(field.size() <= text.size(), "a field is part of the text");
  Require(field.empty() || text.find(field) != std::string_view::npos, "a field is in the text");
  const std::string cleaned = CleanText(text);
  Require(IsClean(cleaned), "CleanText keeps its promise");
  Require(CleanText(cleaned) == cleaned, "CleanText of a clean text changes nothing");
  Require(UpperCase(text).size() == text.size(), "UpperCase keeps the length");
}

}  // namespace
}  // namespace tarvel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvel;
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  // An ordinary day, and the last second of a year, where carries cross into the next one.
  FakeClock clock;
  if (choice & 0x80) clock.Set(2017, 12, 31, 23, 59, 59);
  const std::size_t startPos = choice & 0x0F;
  const int index = static_cast<int>((choice >> 4) & 0x07) - 1;
  static const char* const Separators[] = {"", "-", " ", ":"};
  CheckDates(text, startPos, clock);
  CheckStamps(text, clock);
  CheckFields(text, index, Separators[(choice >> 4) & 0x03]);
  return 0;
}
