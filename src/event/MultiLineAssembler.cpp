#include "event/MultiLineAssembler.h"

#include "text/LineWords.h"

namespace tarvel {

bool IsHeaderLine(std::string_view line) {
  // Most lines start with a longer word (ALARM, NORMAL), told by where the blanks stand before
  // any word is read: ACK and NACK are followed by one at 3 or 4, and one at 1 or 2 ends a word
  // shorter still.
  if (line.size() >= 5 && line[0] != ' ' && line[3] != ' ' && line[4] != ' ') return false;
  std::size_t position = 0;
  const std::string_view first = NextWord(line, position);
  if (!SameWordIgnoringCase(first, "ACK") && !SameWordIgnoringCase(first, "NACK")) return false;
  return StateOfWord(NextWord(line, position), MessageFormat::MultiLine).has_value();
}

MultiLineAssembler::Completed MultiLineAssembler::Add(std::string_view cleanedLine, bool isHeader,
                                                      const Clock& clock) {
  Completed completed = Completed::Nothing;
  if (isHeader) {
    if (lineCount_ > 0) completed = Complete(clock);
    ageMs_ = 0;
    lines_[0].assign(cleanedLine);
    lineCount_ = 1;
  } else if (!cleanedLine.empty() && lineCount_ < MaxLines) {
    lines_[lineCount_].assign(cleanedLine);
    ++lineCount_;
  }
  return completed;
}

MultiLineAssembler::Completed MultiLineAssembler::Age(int32_t elapsedMs, const Clock& clock) {
  ageMs_ += elapsedMs;
  if (ageMs_ <= CompleteAfterMs) return Completed::Nothing;
  const Completed completed = lineCount_ > 0 ? Complete(clock) : Completed::Nothing;
  ageMs_ = 0;
  return completed;
}

MultiLineAssembler::Completed MultiLineAssembler::Complete(const Clock& clock) {
  // The lines are cleaned already: joined by one blank they are as CleanText leaves them.
  event_.Tag.swap(lines_[0]);
  event_.Text.clear();
  for (int index = 1; index < lineCount_; ++index) {
    if (lines_[index].empty()) continue;
    if (!event_.Text.empty()) event_.Text.append(1, ' ');
    event_.Text.append(lines_[index]);
  }
  for (std::string& line : lines_) line.clear();
  lineCount_ = 0;

  std::optional<DateTime> stamp = ExtractStamp(event_.Tag, clock);
  if (std::optional<DateTime> inText = ExtractStamp(event_.Text, clock)) stamp = inText;

  std::size_t position = 0;
  NextWord(event_.Tag, position);
  const std::optional<EventState> state =
      StateOfWord(NextWord(event_.Tag, position), MessageFormat::MultiLine);
  if (!state) return Completed::Dropped;
  event_.State = *state;
  // The clock only for an event without a stamp: a reading costs more than the event's parse.
  event_.Stamp = stamp ? *stamp : DateTime::FromLocalTime(clock.Now());
  return Completed::Event;
}

}  // namespace tarvel
