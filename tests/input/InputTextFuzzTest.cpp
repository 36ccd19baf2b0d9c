#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fakes/FakeClock.h"
#include "text/CharsetConversion.h"
#include "text/DateTime.h"
#include "text/TextFields.h"

namespace tarvel {
namespace {

// The stamp search written the plain way, position by position from 1, cleaning the whole text
// after every cut: the helper must leave the same text and give the same value.
DateTime PlainExtract(const DateTime& defaultValue, std::string& text, const Clock& clock) {
  const auto at = [&text](std::size_t pos) { return pos <= text.size() ? text[pos - 1] : '\0'; };
  const auto next = [&text](std::size_t from) {
    const std::size_t found = from <= text.size() ? text.find('-', from - 1) : std::string::npos;
    return found == std::string::npos ? 0 : found + 1;
  };
  DateTime result = defaultValue;
  for (std::size_t p = next(1); p != 0; p = next(p + 1)) {
    if (p >= 3 && at(p + 4) == '-' && at(p + 10) == ':' && at(p + 13) == ':') {
      const int64_t time = TimeParse(1, text, p + 8, clock);
      result = DateParse(11, text, p - 2, clock).PlusSeconds(time);
      const std::string after = p + 16 <= text.size() ? text.substr(p + 15) : "";
      text = CleanText(text.substr(0, p - 3) + after);
    }
  }
  return result;
}

// Random texts, heavy in the characters the helpers look for, some beyond 32767 characters:
// nothing may crash, and the results keep their promises.
TEST(InputTextFuzz, RandomTextsThroughEveryHelper) {
  std::mt19937 random(20170607);
  const std::string alphabet = "-:- 0123456789JANjan\xE4\t'.&HED";
  const FakeClock clock;
  int stampsCut = 0;
  for (int round = 0; round < 400; ++round) {
    const std::size_t length = round % 50 == 0 ? 33000 + random() % 8000 : random() % 80;
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
      if (random() % (length > 1000 ? 2000 : 40) == 0) {
        std::string stamp = "12-JAN-17 10:20:30";
        stamp[random() % stamp.size()] = alphabet[random() % alphabet.size()];
        text += random() % 2 == 0 ? stamp : " " + stamp + " ";
      }
      text.push_back(random() % 3 == 0 ? static_cast<char>(random() % 256)
                                       : alphabet[random() % alphabet.size()]);
    }
    if (round % 3 == 0) text += " 12-JAN-17 10:20:30";
    const int index = static_cast<int>(random() % 12) - 2;
    const std::string separator = round % 2 == 0 ? "" : text.substr(0, random() % 3);
    GetFieldView(text, index, separator);
    GetFieldView(text, index, "-");
    TrimBlanks(text);
    EXPECT_EQ(UpperCase(text).size(), text.size());

    const std::string cleaned = CleanText(text);
    EXPECT_EQ(cleaned.find("  "), std::string::npos);
    EXPECT_TRUE(cleaned.empty() || (cleaned.front() != ' ' && cleaned.back() != ' '));
    for (const char c : cleaned) EXPECT_GE(static_cast<unsigned char>(c), 32);

    std::string converted = text;
    Swedish7BitToLatin1(converted);
    DOSToLatin1(converted);
    EXPECT_EQ(converted.size(), text.size());

    const std::size_t startPos = random() % (text.size() + 3);
    for (const int layout : {5, 11}) {
      const DateTime date = DateParse(layout, text, startPos, clock);
      EXPECT_TRUE(date.Year >= 100 && date.Year <= 9999) << FormatDate(date);
    }
    TimeParse(1, text, startPos, clock);

    std::string extracted = text;
    const DateTime stamp = ExtractDateTime(DateTime{}, extracted, clock);
    std::string plain = text;
    EXPECT_EQ(PlainExtract(DateTime{}, plain, clock), stamp) << text;
    EXPECT_EQ(extracted, plain) << text;
    EXPECT_LE(extracted.size(), text.size());
    if (!(stamp == DateTime{})) ++stampsCut;
    EXPECT_EQ(FormatTime(stamp).size(), 8u);
  }
  EXPECT_GT(stampsCut, 20);  // the texts did reach the cutting path
}

}  // namespace
}  // namespace tarvel
