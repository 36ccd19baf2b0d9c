#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// Field `index` (from 0) of a text split at a separator of one or more characters. An empty
// separator asks for detection: a tab if the text holds one, else an apostrophe if it holds
// one; the detected separator is written back. Past the last field, a negative index, an
// empty text or an undetected separator give the empty text.
std::string GetField(std::string_view text, int index, std::string& separator);
// The same with a fixed, non-empty separator.
std::string_view GetFieldView(std::string_view text, int index, std::string_view separator);

// Trimmed, codes below 32 made "/", runs of blanks shrunk to one.
std::string CleanText(std::string_view text);

// Blanks (spaces only) removed at both ends.
std::string_view TrimBlanks(std::string_view text);

// Upper case of the 8-bit ISO 8859-1 letters (a-z and the accented ones, as the month names
// need: "j\xE4n" gives "J\xC4N").
std::string UpperCase(std::string_view text);

}  // namespace tarvel
