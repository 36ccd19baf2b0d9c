#include "text/NumericValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "text/TextFields.h"

namespace tarvel {
namespace {

// Significant decimal digits kept. Any double is rounded correctly from its first 767
// significant digits plus one "sticky" digit telling whether anything non-zero followed.
constexpr int MaxDigits = 780;
// Far beyond the double range either way, small enough to add without overflow.
constexpr int64_t ExponentLimit = 100000;

bool IsSkipped(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Walks the text one significant character at a time, passing over blanks, tabs and line
// feeds; at the end it shows the character '\0', which no rule takes.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) { Skip(); }
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void Take() {
    ++pos_;
    taken_ = pos_;
    Skip();
  }
  size_t Taken() const { return taken_; }

 private:
  void Skip() {
    while (pos_ < text_.size() && IsSkipped(text_[pos_])) ++pos_;
  }
  std::string_view text_;
  size_t pos_ = 0;
  size_t taken_ = 0;
};

int DigitValue(char c, int base) {
  int value = 99;
  if (IsDigit(c)) value = c - '0';
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  return value < base ? value : -1;
}

// The digits after &H or &O. Very long digit runs grow to infinity, which is well defined.
NumberScan ScanPrefixed(Cursor& cursor, int base) {
  NumberScan scan;
  for (int digit = DigitValue(cursor.Peek(), base); digit >= 0;
       digit = DigitValue(cursor.Peek(), base)) {
    scan.Value = scan.Value * base + digit;
    scan.HasDigits = true;
    cursor.Take();
  }
  if (scan.HasDigits) scan.Length = cursor.Taken();
  return scan;
}

// The significant digits of a decimal number and the power of ten that scales them.
struct DecimalDigits {
  char Digits[MaxDigits + 1];
  int Count = 0;
  bool Sticky = false;   // a non-zero digit beyond MaxDigits was dropped
  int64_t Exponent = 0;  // the value is Digits, read as a whole number, times 10^Exponent
  bool HasDigits = false;

  void Add(char c, bool afterPoint) {
    HasDigits = true;
    if (Count == 0 && c == '0') {
      if (afterPoint) --Exponent;
      return;
    }
    if (Count < MaxDigits) {
      Digits[Count++] = c;
      if (afterPoint) --Exponent;
      return;
    }
    if (!afterPoint) ++Exponent;
    if (c != '0') Sticky = true;
  }
};

// The exponent after E or D: nothing is taken unless at least one digit follows.
int64_t ScanExponent(Cursor& cursor) {
  Cursor probe = cursor;
  probe.Take();
  int sign = 1;
  if (probe.Peek() == '+' || probe.Peek() == '-') {
    if (probe.Peek() == '-') sign = -1;
    probe.Take();
  }
  if (!IsDigit(probe.Peek())) return 0;
  int64_t exponent = 0;
  while (IsDigit(probe.Peek())) {
    if (exponent < ExponentLimit) exponent = exponent * 10 + (probe.Peek() - '0');
    probe.Take();
  }
  cursor = probe;
  return sign * exponent;
}

double DecimalToDouble(DecimalDigits& number, int64_t exponent) {
  if (number.Count == 0) return 0;
  // Whole numbers below 10^15 are exact in a double: no need for the general conversion, which
  // costs more than the rest of a date or time field.
  constexpr int64_t ExactDigits = 15;
  if (!number.Sticky && exponent >= 0 && number.Count + exponent <= ExactDigits) {
    int64_t whole = 0;
    for (int i = 0; i < number.Count; ++i) whole = whole * 10 + (number.Digits[i] - '0');
    for (int64_t i = 0; i < exponent; ++i) whole *= 10;
    return static_cast<double>(whole);
  }
  const int64_t magnitude = number.Count + exponent;  // the value lies below 10^magnitude
  if (magnitude > 400) return std::numeric_limits<double>::infinity();
  if (magnitude < -400) return 0;
  char text[MaxDigits + 32];
  int length = 0;
  for (int i = 0; i < number.Count; ++i) text[length++] = number.Digits[i];
  if (number.Sticky) {
    text[length++] = '1';
    --exponent;
  }
  text[length++] = 'e';
  const auto written = std::to_chars(text + length, text + sizeof text, exponent);
  double value = 0;
  const auto parsed = std::from_chars(text, written.ptr, value);
  if (parsed.ec == std::errc::result_out_of_range) {
    return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return value;
}

NumberScan ScanDecimal(Cursor& cursor) {
  bool negative = false;
  if (cursor.Peek() == '+' || cursor.Peek() == '-') {
    negative = cursor.Peek() == '-';
    cursor.Take();
  }
  DecimalDigits number;
  for (; IsDigit(cursor.Peek()); cursor.Take()) number.Add(cursor.Peek(), false);
  if (cursor.Peek() == '.') {
    cursor.Take();
    for (; IsDigit(cursor.Peek()); cursor.Take()) number.Add(cursor.Peek(), true);
  }
  NumberScan scan;
  if (!number.HasDigits) return scan;
  const char marker = cursor.Peek();
  int64_t exponent = 0;
  if (marker == 'E' || marker == 'e' || marker == 'D' || marker == 'd') {
    exponent = ScanExponent(cursor);
  }
  scan.HasDigits = true;
  scan.Length = cursor.Taken();
  scan.Value = DecimalToDouble(number, number.Exponent + exponent);
  if (negative) scan.Value = -scan.Value;
  return scan;
}

template <typename Integer>
std::optional<Integer> RoundToInteger(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  double whole = std::floor(value);
  const double fraction = value - whole;  // exact for every double
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  if (whole < std::numeric_limits<Integer>::min() || whole > std::numeric_limits<Integer>::max()) {
    return std::nullopt;
  }
  return static_cast<Integer>(whole);
}

// The common case of a whole number (digits, perhaps a sign, blanks anywhere before and
// between), read without going through a double. False when the text goes on with a decimal
// point, an exponent or a prefix: those take the general rule. A text that does not begin with a
// number gives 0, as under the general rule. The value is held to +-2^40, far outside every
// range it is checked against.
inline std::optional<int64_t> ScanWholeNumber(std::string_view text) {
  constexpr int64_t Saturation = int64_t{1} << 40;
  size_t pos = 0;
  auto skip = [&] {
    while (pos < text.size() && IsSkipped(text[pos])) ++pos;
  };
  skip();
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
    skip();
  }
  int64_t whole = 0;
  for (; pos < text.size() && IsDigit(text[pos]); skip()) {
    whole = std::min(whole * 10 + (text[pos++] - '0'), Saturation);
  }
  if (pos < text.size()) {
    const char c = text[pos];
    if (c == '.' || c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == '&') return std::nullopt;
  }
  return negative ? -whole : whole;
}

template <typename Integer>
std::optional<Integer> WholeValue(std::string_view text) {
  // Date and time fields are a few plain digits: the shortest way first.
  constexpr size_t PlainDigitsLimit = 9;
  if (!text.empty() && text.size() <= PlainDigitsLimit) {
    int64_t whole = 0;
    size_t pos = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) whole = whole * 10 + (text[pos] - '0');
    if (pos == text.size()) {
      if (whole > std::numeric_limits<Integer>::max()) return std::nullopt;
      return static_cast<Integer>(whole);
    }
  }
  const std::optional<int64_t> value = ScanWholeNumber(text);
  if (!value) return RoundToInteger<Integer>(NumericValue(text));
  if (*value < std::numeric_limits<Integer>::min() ||
      *value > std::numeric_limits<Integer>::max()) {
    return std::nullopt;
  }
  return static_cast<Integer>(*value);
}

}  // namespace

NumberScan ScanNumber(std::string_view text) {
  // Date and time fields are a few plain digits: read them directly.
  constexpr std::size_t PlainDigitsLimit = 9;
  if (!text.empty() && text.size() <= PlainDigitsLimit &&
      std::all_of(text.begin(), text.end(), IsDigit)) {
    int64_t whole = 0;
    for (const char c : text) whole = whole * 10 + (c - '0');
    return NumberScan{static_cast<double>(whole), text.size(), true};
  }
  Cursor cursor(text);
  if (cursor.Peek() != '&') return ScanDecimal(cursor);
  cursor.Take();
  const char prefix = cursor.Peek();
  if (prefix == 'H' || prefix == 'h') {
    cursor.Take();
    return ScanPrefixed(cursor, 16);
  }
  if (prefix == 'O' || prefix == 'o') {
    cursor.Take();
    return ScanPrefixed(cursor, 8);
  }
  return NumberScan{};
}

double NumericValue(std::string_view text) {
  return ScanNumber(text).Value;
}

std::optional<int32_t> LongValue(std::string_view text) {
  return WholeValue<int32_t>(text);
}

std::optional<int16_t> IntegerValue(std::string_view text) {
  return WholeValue<int16_t>(text);
}

bool FlagValue(std::string_view text) {
  return NumericValue(text) != 0;
}

std::string KeywordValue(std::string_view text) {
  return UpperCase(TrimBlanks(text));
}

}  // namespace tarvel
