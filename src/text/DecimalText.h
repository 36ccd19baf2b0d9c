#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace tarvel {

// Appends a number in decimal, without blanks or leading zeros, to a text that is reused from
// call to call (no allocation once the text has grown).
inline void AppendDecimal(std::string& text, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, result.ptr);
}

}  // namespace tarvel
