#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tarvel {

// Text helpers for lines and settings. Text is 8-bit, one byte per character (codes 0-255); a
// blank is the space character only.
//
// Length: texts of any length are handled whole. Positions and counts are size_t, so a line of
// more than 32767 characters is split, cleaned and upper-cased like a short one; nothing is cut
// and nothing wraps. The input side decides elsewhere how long a line it accepts.

// Field `index` (from 0) of a text split at a separator of one or more characters, exactly as
// it stands (nothing trimmed). Occurrences of the separator are found left to right without
// overlap, so n occurrences make n + 1 fields. Past the last field, a negative index, an empty
// text or an empty separator give the empty text. The result points into `text`.
std::string_view GetFieldView(std::string_view text, int index, std::string_view separator);

// Blanks removed at both ends, then every code below 32 (tab included) made "/", then every run
// of blanks shrunk to one. Codes 127-255 stay. The result never begins or ends with a blank and
// never holds two blanks in a row.
std::string CleanText(std::string_view text);
// The same into `out`, which is emptied first and keeps its memory.
void CleanTextInto(std::string& out, std::string_view text);

// The same cleaning done over the text itself, which keeps its memory.
void CleanTextInPlace(std::string& text);

// Blanks removed at both ends; points into `text`. A blank is the space only, unless the caller
// names other characters too (the INI file and the allow-list also take tabs: " \t").
std::string_view TrimBlanks(std::string_view text, std::string_view blanks);
// Where text[first, end) ends without its trailing blanks. Fields of fixed width (a tag of 18
// columns) mostly end in a run of blanks: one test covers eight characters, where a loop would
// take a branch for each blank.
inline std::size_t EndBeforeBlanks(const char* text, std::size_t first, std::size_t end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t Blanks = 0x2020202020202020;
    constexpr uint64_t Low7 = 0x7F7F7F7F7F7F7F7F;
    while (end - first >= 8) {
      uint64_t word;
      std::memcpy(&word, text + end - 8, 8);
      word ^= Blanks;  // a blank becomes zero
      // The top bit of every character that is not a blank; the last one is the highest.
      const uint64_t kept = (((word & Low7) + Low7) | word) & ~Low7;
      if (kept != 0) return end - 8 + static_cast<std::size_t>(63 - std::countl_zero(kept)) / 8 + 1;
      end -= 8;
    }
  }
  while (end > first && text[end - 1] == ' ') --end;
  return end;
}

// Inline for the space alone: every received line is trimmed several times on its way.
inline std::string_view TrimBlanks(std::string_view text) {
  std::size_t first = 0;
  std::size_t end = text.size();
  while (first < end && text[first] == ' ') ++first;
  if (end > first && text[end - 1] == ' ') end = EndBeforeBlanks(text.data(), first, end);
  // Not substr: its bounds check, needless here, costs as much as the loops.
  return first == end ? std::string_view() : std::string_view(text.data() + first, end - first);
}

// At least one character, and every one of them a decimal digit.
bool AllDigits(std::string_view text);

// Upper case of the ISO 8859-1 letters: a-z and 0xE0-0xFE except 0xF7 (the division sign) move
// down by 0x20, so "j\xE4n" gives "J\xC4N". Every other code, 0xDF and 0xFF included, stays.
// Inline: state words and month names are compared a character at a time.
inline char UpperCaseChar(char c) {
  const auto code = static_cast<unsigned char>(c);
  const bool asciiLower = code >= 'a' && code <= 'z';
  const bool latin1Lower = code >= 0xE0 && code <= 0xFE && code != 0xF7;
  return asciiLower || latin1Lower ? static_cast<char>(code - 0x20) : c;
}
std::string UpperCase(std::string_view text);

}  // namespace tarvel
