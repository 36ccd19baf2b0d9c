#include "text/TextFields.h"

#include <algorithm>
#include <cstring>

namespace tarvel {

namespace {

constexpr char Blank = ' ';
constexpr char ControlMark = '/';

// A trimmed text, not empty, that cleaning leaves as it is: no control code, no two blanks in a
// row. One pass without an early exit, which the compiler does many characters at a time: most
// lines are clean, and this and a copy cost less than cleaning them a character at a time.
bool IsCleanTrimmed(std::string_view trimmed) {
  unsigned char dirty = static_cast<unsigned char>(trimmed[0]) < 32;
  for (std::size_t i = 1; i < trimmed.size(); ++i) {
    dirty |= (static_cast<unsigned char>(trimmed[i]) < 32) |
             ((trimmed[i] == Blank) & (trimmed[i - 1] == Blank));
  }
  return dirty == 0;
}

// Cleans a trimmed text into `out`, which has room for it and may be the text's own memory from
// its start on: a character is never written ahead of where it was read. Gives the length.
std::size_t CleanTrimmed(std::string_view trimmed, char* out) {
  if (trimmed.empty()) return 0;
  if (IsCleanTrimmed(trimmed)) {
    std::memmove(out, trimmed.data(), trimmed.size());
    return trimmed.size();
  }
  std::size_t length = 0;
  char previous = ControlMark;  // the last character written, kept out of memory
  for (const char c : trimmed) {
    // Trimmed first, so a blank here always has a non-blank after it somewhere: a run is kept
    // as its first blank only.
    if (c == Blank && previous == Blank) continue;
    previous = static_cast<unsigned char>(c) < 32 ? ControlMark : c;
    out[length++] = previous;
  }
  return length;
}

}  // namespace

std::string_view GetFieldView(std::string_view text, int index, std::string_view separator) {
  if (text.empty() || separator.empty() || index < 0) return {};
  // A one-character separator, the usual case, is looked for by a plain loop: the fields are
  // short (a date's parts, a setting's), and a library search costs more to start than to run.
  const auto find = [&](std::size_t from) {
    if (separator.size() != 1) return text.find(separator, from);
    while (from < text.size() && text[from] != separator.front()) ++from;
    return from < text.size() ? from : std::string_view::npos;
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
  if (blanks.size() == 1 && blanks.front() == Blank) return TrimBlanks(text);
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
  result.resize(trimmed.size());
  result.resize(CleanTrimmed(trimmed, result.data()));
}

void CleanTextInPlace(std::string& text) {
  const std::string_view trimmed = TrimBlanks(text);
  text.resize(CleanTrimmed(trimmed, text.data()));
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), UpperCaseChar);
  return result;
}

}  // namespace tarvel
