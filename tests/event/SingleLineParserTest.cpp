#include <gtest/gtest.h>

#include <string>

#include "event/AlarmServerLine.h"
#include "event/SingleLineParser.h"
#include "fakes/FakeClock.h"
#include "support/SingleLineMessage.h"

namespace tarvel {
namespace {

TEST(SingleLineParser, LinesAndWhatTheyBecome) {
  using Outcome = SingleLineParse::Outcome;
  const std::string line = "ZONE-12-DOOR||||Door forced open\n";
  const std::string pad6(6, ' ');
  struct Row {
    const char* name;
    std::string line;
    Outcome outcome;
    std::string result;  // the event line, or the rest of a rejected line
  } rows[] = {
      // clang-format off
      {"alarm", Message("ALARM"), Outcome::Parsed, "1|2017-06-07|10:20:30|" + line},
      {"blanks after the type", "ALARM   " + Message("").substr(1), Outcome::Parsed,
       "1|2017-06-07|10:20:30|" + line},
      {"lower case normal", Message("normal"), Outcome::Parsed, "0|2017-06-07|10:20:30|" + line},
      {"delay is an alarm", Message("Delay"), Outcome::Parsed, "1|2017-06-07|10:20:30|" + line},
      {"lower case acknow", Message("acknow"), Outcome::Parsed, "2|2017-06-07|10:20:30|" + line},
      {"8-character date shifts the columns", Message("ALARM", "07-06-17"), Outcome::Parsed,
       "1|2017-06-07|10:20:30|ONE-12-DOOR" + pad6 + "D||||oor forced open\n"},
      {"a date that cannot be formed is today", Message("ALARM", "07-06-1E99"), Outcome::Parsed,
       "1|2020-01-02|10:20:30|" + line},
      {"control bytes and | go on unchanged", Message("ALARM", "07-06-2017", "Z|1", "\x1B[31m"),
       Outcome::Parsed, "1|2017-06-07|10:20:30|Z|1||||\x1B[31m\n"},
      {"no text", "ALARM 07-06-2017 10:20:30 SHORT", Outcome::TagOrTextMissing, "SHORT"},
      {"no text, unknown type", "RESET 07-06-2017 10:20:30 SHORT", Outcome::TagOrTextMissing,
       "SHORT"},
      {"empty", "", Outcome::TagOrTextMissing, ""},
      {"unknown type", Message("RESET"), Outcome::UnknownStateWord,
       "ZONE-12-DOOR" + pad6 + "Door forced open"},
      {"a multi-line header", "ACK NORMAL 12-JAN-17 10:20:30 Fire detector",
       Outcome::UnknownStateWord, ":20:30 Fire detector"},
      // clang-format on
  };
  FakeClock clock;
  clock.Set(2020, 1, 2, 3, 4, 5);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Event event;
    const SingleLineParse parse = ParseSingleLine(row.line, clock, event);
    EXPECT_EQ(parse.Result, row.outcome);
    std::string result(parse.Rest);
    if (parse.Result == Outcome::Parsed) {
      result.clear();
      AppendEventLine(result, event);
    }
    EXPECT_EQ(result, row.result);
  }
}

}  // namespace
}  // namespace tarvel
