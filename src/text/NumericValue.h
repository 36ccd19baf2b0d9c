#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// The outcome of reading the number a text begins with.
struct NumberScan {
  double Value = 0;        // 0 when the text does not begin with a number; may be infinite
  size_t Length = 0;       // characters taken, blanks between the digits included
  bool HasDigits = false;  // at least one digit was read
};

// Reads the number the text begins with, in time linear in the text and without allocating.
NumberScan ScanNumber(std::string_view text);

// The leading-number rule by which every number is read from a text: blanks, tabs and line
// feeds skipped anywhere before and between the digits, an optional sign, a decimal point, an
// exponent with E or D, the prefixes &H and &O. A text not beginning with a number gives 0.
double NumericValue(std::string_view text);

// NumericValue rounded to the nearest whole number, a half to the even neighbour; nothing when
// the result is outside the 32-bit (LongValue) or 16-bit (IntegerValue) signed range.
std::optional<int32_t> LongValue(std::string_view text);
std::optional<int16_t> IntegerValue(std::string_view text);

// NumericValue without rounding, true when not 0.
bool FlagValue(std::string_view text);

// Blanks at both ends removed, upper-cased.
std::string KeywordValue(std::string_view text);

}  // namespace tarvel
