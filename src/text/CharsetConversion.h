#pragma once

#include <string>

namespace tarvel {

// National characters of the TARVEL80 equipment to ISO 8859-1, in place. Each character is
// replaced by its table entry at most once (one pass, one lookup per character, the length never
// changes), so a replacement is never converted again by the same call. Texts of any length are
// converted whole.

// Swedish 7-bit ISO 646: [ \ ] { | } become the Scandinavian letters; nothing else changes.
void Swedish7BitToLatin1(std::string& text);

// DOS code page letters (and the degree and cube signs) to ISO 8859-1 by the fixed table of the
// TARVEL80 equipment. Code 129 and every code not in the table stay.
void DOSToLatin1(std::string& text);

}  // namespace tarvel
