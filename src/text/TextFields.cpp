#include "text/TextFields.h"

#include <algorithm>

namespace tarvel {

namespace {

constexpr char Blank = ' ';
constexpr char ControlMark = '/';

}  // namespace

std::string_view GetFieldView(std::string_view text, int index, std::string_view separator) {
  if (text.empty() || separator.empty() || index < 0) return {};
  // A one-character separator, the usual case, is looked for as a character.
  const auto find = [&](std::size_t from) {
    return separator.size() == 1 ? text.find(separator.front(), from) : text.find(separator, from);
  };
  std::size_t start = 0;
  for (int field = 0; field < index; ++field) {
    const std::size_t found = find(start);
    if (found == std::string_view::npos) return {};
    start = found + separator.size();
  }
  const std::size_t end = find(start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::string_view TrimBlanks(std::string_view text, std::string_view blanks) {
  if (blanks.size() == 1) {
    // One blank character, as for every event line: a plain scan from either end, where the
    // general search would look the set up once per character.
    const char blank = blanks.front();
    std::size_t first = 0;
    std::size_t end = text.size();
    while (first < end && text[first] == blank) ++first;
    while (end > first && text[end - 1] == blank) --end;
    return first == end ? std::string_view() : text.substr(first, end - first);
  }
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string CleanText(std::string_view text) {
  std::string result;
  CleanTextInto(result, text);
  return result;
}

void CleanTextInto(std::string& result, std::string_view text) {
  const std::string_view trimmed = TrimBlanks(text);
  result.clear();
  result.reserve(trimmed.size());
  for (const char c : trimmed) {
    // Trimmed first, so a blank here always has a non-blank after it somewhere: a run is kept
    // as its first blank only.
    if (c == Blank && !result.empty() && result.back() == Blank) continue;
    result.push_back(static_cast<unsigned char>(c) < 32 ? ControlMark : c);
  }
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

char UpperCaseChar(char c) {
  const auto code = static_cast<unsigned char>(c);
  const bool asciiLower = code >= 'a' && code <= 'z';
  const bool latin1Lower = code >= 0xE0 && code <= 0xFE && code != 0xF7;
  return asciiLower || latin1Lower ? static_cast<char>(code - 0x20) : c;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), UpperCaseChar);
  return result;
}

}  // namespace tarvel
