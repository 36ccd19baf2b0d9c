#include "event/Event.h"

#include "text/LineWords.h"

namespace tarvel {
namespace {

struct StateWord {
  std::string_view UpperWord;
  EventState State;
  bool InMultiLineHeader;
};

constexpr StateWord StateWords[] = {
    {"NORMAL", EventState::Normal, true},
    {"ALARM", EventState::Alarm, true},
    {"DELAY", EventState::Alarm, false},
    {"ACKNOW", EventState::Acknowledged, false},
};

}  // namespace

std::optional<EventState> StateOfWord(std::string_view word, MessageFormat format) {
  for (const StateWord& known : StateWords) {
    if (format == MessageFormat::MultiLine && !known.InMultiLineHeader) continue;
    if (SameWordIgnoringCase(word, known.UpperWord)) return known.State;
  }
  return std::nullopt;
}

}  // namespace tarvel
