// Temporary stand-in until the configuration conversions land; removed before merging.
#include "config/NumericValue.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

namespace tarvel {

double NumericValue(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') compact.push_back(c);
  }
  if (compact.size() >= 2 && compact[0] == '&' && (compact[1] == 'H' || compact[1] == 'h')) {
    return static_cast<double>(std::strtoll(compact.c_str() + 2, nullptr, 16));
  }
  if (compact.size() >= 2 && compact[0] == '&' && (compact[1] == 'O' || compact[1] == 'o')) {
    return static_cast<double>(std::strtoll(compact.c_str() + 2, nullptr, 8));
  }
  std::size_t i = 0;
  std::string number;
  if (i < compact.size() && (compact[i] == '+' || compact[i] == '-')) number += compact[i++];
  while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i])))
    number += compact[i++];
  if (i < compact.size() && compact[i] == '.') {
    number += compact[i++];
    while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i])))
      number += compact[i++];
  }
  if (i + 1 < compact.size() &&
      (compact[i] == 'E' || compact[i] == 'e' || compact[i] == 'D' || compact[i] == 'd')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (compact[j] == '+' || compact[j] == '-') exponent += compact[j++];
    if (j < compact.size() && std::isdigit(static_cast<unsigned char>(compact[j]))) {
      while (j < compact.size() && std::isdigit(static_cast<unsigned char>(compact[j])))
        exponent += compact[j++];
      number += exponent;
    }
  }
  return std::strtod(number.c_str(), nullptr);
}

std::optional<int16_t> IntegerValue(std::string_view text) {
  const double value = std::nearbyint(NumericValue(text));
  if (!(value >= -32768.0 && value <= 32767.0)) return std::nullopt;
  return static_cast<int16_t>(value);
}

}  // namespace tarvel
