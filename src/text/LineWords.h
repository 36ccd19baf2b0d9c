#pragma once

#include <cstddef>
#include <string_view>

#include "text/TextFields.h"

namespace tarvel {

// Words of a received line as the cleaned line shows them: runs of blanks separate words, and
// blanks at either end are ignored. A word holding a control character never equals a word of
// letters, just as its cleaned form (with "/") would not. Inline: every received line is
// looked at word by word.

// The word that starts at or after `position`, which is moved past it; empty at the end.
inline std::string_view NextWord(std::string_view line, std::size_t& position) {
  while (position < line.size() && line[position] == ' ') ++position;
  const std::size_t start = position;
  while (position < line.size() && line[position] != ' ') ++position;
  return std::string_view(line.data() + start, position - start);  // within the line: unchecked
}

// True when the word, upper-cased (UpperCaseChar), equals `upperWord`.
inline bool SameWordIgnoringCase(std::string_view word, std::string_view upperWord) {
  if (word.size() != upperWord.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    // Equipment mostly writes capitals: those need no upper-casing.
    if (word[i] != upperWord[i] && UpperCaseChar(word[i]) != upperWord[i]) return false;
  }
  return true;
}

}  // namespace tarvel
