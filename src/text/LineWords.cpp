#include "text/LineWords.h"

#include "text/TextFields.h"

namespace tarvel {

std::string_view NextWord(std::string_view line, std::size_t& position) {
  while (position < line.size() && line[position] == ' ') ++position;
  const std::size_t start = position;
  while (position < line.size() && line[position] != ' ') ++position;
  return line.substr(start, position - start);
}

bool SameWordIgnoringCase(std::string_view word, std::string_view upperWord) {
  if (word.size() != upperWord.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (UpperCaseChar(word[i]) != upperWord[i]) return false;
  }
  return true;
}

}  // namespace tarvel
