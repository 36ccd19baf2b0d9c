#pragma once

#include <string>

namespace tarvel {

// Swedish 7-bit national characters to ISO 8859-1: [ \ ] { | } become the Scandinavian letters.
// Same length; each character looked at once.
void Swedish7BitToLatin1(std::string& text);

// DOS code page letters to ISO 8859-1, by the fixed table of the TARVEL80 equipment.
void DOSToLatin1(std::string& text);

}  // namespace tarvel
