#pragma once

#include <string_view>

namespace tarvel {

// Words of a received line as the cleaned line shows them: runs of blanks separate words, and
// blanks at either end are ignored. A word holding a control character never equals a word of
// letters, just as its cleaned form (with "/") would not.

// The word that starts at or after `position`, which is moved past it; empty at the end.
std::string_view NextWord(std::string_view line, std::size_t& position);

// True when the word, upper-cased (UpperCaseChar), equals `upperWord`.
bool SameWordIgnoringCase(std::string_view word, std::string_view upperWord);

}  // namespace tarvel
