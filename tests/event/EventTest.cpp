#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

#include "event/AlarmServerLine.h"
#include "event/MultiLineAssembler.h"
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
       Outcome::UnknownStateWord, ":20:30 Fire detector"}};
  // clang-format on
  FakeClock clock;
  clock.Set(2020, 1, 2, 3, 4, 5);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const SingleLineParse parse = ParseSingleLine(row.line, clock);
    EXPECT_EQ(parse.Result, row.outcome);
    std::string result(parse.Result == Outcome::Parsed ? "" : parse.Rest);
    if (parse.Result == Outcome::Parsed) AppendEventLine(result, parse.Message);
    EXPECT_EQ(result, row.result);
  }
}

// Stamps in and just outside the usual layout, with and without carrying: every one reads as
// the date and time rules read it, whichever way the parser takes.
TEST(SingleLineParser, StampsAsTheDateAndTimeRulesReadThem) {
  const std::pair<std::string, std::string> rows[] = {
      {"07-06-2017 10:20:30", "2017-06-07|10:20:30"},
      {"29-02-2016 23:59:59", "2016-02-29|23:59:59"},
      {"29-02-2017 00:00:00", "2017-03-01|00:00:00"},
      {"31-04-2017 10:20:30", "2017-05-01|10:20:30"},
      {"00-06-2017 10:20:30", "2017-05-31|10:20:30"},
      {"07-13-2017 10:20:30", "2018-01-07|10:20:30"},
      {"07-00-2017 10:20:30", "2016-12-07|10:20:30"},
      {"07-06-0017 10:20:30", "2017-06-07|10:20:30"},
      {"07-06-0030 10:20:30", "1930-06-07|10:20:30"},
      {"07-06-0100 10:20:30", "0100-06-07|10:20:30"},
      {"07-06-0099 10:20:30", "1999-06-07|10:20:30"},
      {"07-06-9999 23:59:59", "9999-06-07|23:59:59"},
      {"07-06-2017 10:20:60", "2017-06-07|10:21:00"},
      {"07-06-2017 10:60:30", "2017-06-07|11:00:30"},
      {"07-06-2017 24:00:00", "2017-06-07|00:00:00"},
      {"07-06-2017 99:99:99", "2017-06-07|04:40:39"},
      {"07/06/2017 10.20.30", "2017-06-07|10:20:30"},
      {"7-06-2017  10:20:30", "2017-06-07|00:00:00"},
      {"07-06-2017 10:20:3x", "2017-06-07|10:20:03"},
      {"07-06-20x7 10:20:30", "2020-06-07|10:20:30"},
      {"07 06-2017 10:20:30", "1999-12-07|06:20:07"},
      {"07-06 2017 10:20:30", "2000-06-07|20:07:00"},
      {"07-06-2017 10:20 30", "2017-06-07|10:20:00"},
      {"07-06-2017 10 20:30", "2017-06-07|10:00:00"},
      {"07-06-20170 10:20:30", "2017-06-07|10:20:30"},
      {"07-06-2017T10:20:30", "2017-06-07|00:00:02"},
      {"07-06-2017 10:20:300", "2017-06-07|10:20:30"},
  };
  FakeClock clock;
  clock.Set(2020, 1, 2, 3, 4, 5);
  for (const auto& [stamp, expected] : rows) {
    SCOPED_TRACE(stamp);
    const std::string line = "ALARM " + stamp + " ZONE-12-DOOR      Door forced open";
    const SingleLineParse parse = ParseSingleLine(line, clock);
    ASSERT_EQ(parse.Result, SingleLineParse::Outcome::Parsed);
    std::string result;
    AppendEventLine(result, parse.Message);
    EXPECT_EQ(result.substr(2, expected.size()), expected) << result;
  }
}

// Tags and texts of every length up to and past the short-copy sizes arrive whole and in place,
// with a stamp and without one.
TEST(AlarmServerLine, FieldsOfEveryLengthArriveWhole) {
  std::string pattern;
  for (int n = 0; n < 70; ++n) pattern += static_cast<char>('A' + n % 26 + (n / 26) * 0x20);
  const DateTime stamp{2017, 6, 7, 10, 20, 30};
  for (std::size_t tagSize = 0; tagSize <= 40; ++tagSize) {
    for (std::size_t textSize = 0; textSize <= pattern.size(); ++textSize) {
      const std::string tag = pattern.substr(pattern.size() - tagSize);
      const std::string text = pattern.substr(0, textSize);
      for (const bool stamped : {true, false}) {
        EventView event(EventState::Acknowledged, stamp, tag, text);
        if (!stamped) event.Stamp.reset();
        std::string line = "before ";
        AppendEventLine(line, event);
        const std::string fields = stamped ? "2017-06-07|10:20:30" : "|";
        ASSERT_EQ(line, "before 2|" + fields + "|" + tag + "||||" + text + "\n")
            << tagSize << " and " << textSize;
      }
    }
  }
}

using Completed = MultiLineAssembler::Completed;

// Adds each line of the text as the input side would: cleaned already, with its header test.
Completed AddLines(MultiLineAssembler& assembler, const std::string& lines, const Clock& clock) {
  Completed last = Completed::Nothing;
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);)
    last = assembler.Add(line, IsHeaderLine(line), clock);
  return last;
}

TEST(MultiLineAssembler, HeaderLines) {
  for (const char* header : {"ACK NORMAL", "nack alarm x", "  Ack  Alarm  "})
    EXPECT_TRUE(IsHeaderLine(header)) << header;
  for (const char* other :
       {"ACK DELAY", "ACK ACKNOW", "ACKNOWLEDGE ALARM", "ALARM ACK", "ACK", "ACK NORMALLY", ""})
    EXPECT_FALSE(IsHeaderLine(other)) << other;
}

// A collection completes once older than a second (the eleventh tick of 100 ms); text lines
// without a header are dropped then unless their second word is a state word.
TEST(MultiLineAssembler, CompletesOnceOlderThanASecond) {
  struct Row {
    const char* name;
    std::string received;
    std::string sent;  // empty: dropped
  } rows[] = {
      {"stamp in the header", "NACK ALARM 12-JAN-17 10:20:30 Fire detector\nHall 2\n",
       "1|2017-01-12|10:20:30|NACK ALARM Fire detector||||Hall 2\n"},
      {"stamp in a text line wins",
       "NACK NORMAL 12-JAN-17 10:20:30 Fire detector\nHall 2 13-FEB-18 11:22:33 east\n",
       "0|2018-02-13|11:22:33|NACK NORMAL Fire detector||||Hall 2 east\n"},
      {"no stamp: the completion time", "ACK NORMAL Zone 4\n",
       "0|2017-06-07|12:34:56|ACK NORMAL Zone 4||||\n"},
      {"three text lines kept", "ACK ALARM Zone 4\nline 1\n\nline 2\nline 3\nline 4\nline 5\n",
       "1|2017-06-07|12:34:56|ACK ALARM Zone 4||||line 1 line 2 line 3\n"},
      {"text lines without a header", "late text\nALARM 07-06-2017 10:20:30 ZONE\n", ""},
      {"a second word makes an event", "text ALARM at index 0\n",
       "1|2017-06-07|12:34:56|text ALARM at index 0||||\n"},
      {"no delay in this format", "text DELAY at index 0\n", ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeClock clock;
    clock.Set(2017, 6, 7, 12, 34, 0);
    MultiLineAssembler assembler;
    EXPECT_EQ(AddLines(assembler, row.received, clock), Completed::Nothing);
    for (int tick = 1; tick <= 10; ++tick) EXPECT_EQ(assembler.Age(100, clock), Completed::Nothing);
    clock.Set(2017, 6, 7, 12, 34, 56);
    const Completed completed = assembler.Age(100, clock);
    EXPECT_EQ(completed, row.sent.empty() ? Completed::Dropped : Completed::Event);
    std::string line;
    if (completed == Completed::Event) AppendEventLine(line, assembler.Collected());
    EXPECT_EQ(line, row.sent);
    EXPECT_EQ(assembler.Age(2000, clock), Completed::Nothing);  // nothing left
  }
}

// With nothing collected the age still starts again once past a second. (The next header
// completing a collection at its arrival shows in the input port's test.)
TEST(MultiLineAssembler, IdleAgeStartsAgain) {
  FakeClock clock;
  MultiLineAssembler assembler;
  EXPECT_EQ(assembler.Age(1100, clock), Completed::Nothing);
  EXPECT_EQ(AddLines(assembler, "text ALARM\n", clock), Completed::Nothing);
  EXPECT_EQ(assembler.Age(1000, clock), Completed::Nothing);
  EXPECT_EQ(assembler.Age(100, clock), Completed::Event);
}

}  // namespace
}  // namespace tarvel
