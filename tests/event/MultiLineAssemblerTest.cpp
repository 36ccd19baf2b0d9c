#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "event/AlarmServerLine.h"
#include "event/MultiLineAssembler.h"
#include "fakes/FakeClock.h"

namespace tarvel {
namespace {

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
      {"no delay in this format", "text DELAY at index 0\n", ""},
  };
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
