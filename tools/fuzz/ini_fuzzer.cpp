// The INI reader and the number conversions on arbitrary text: the whole input is the file,
// read the way start-up reads it, and also taken as one value.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "config/ConfigReader.h"
#include "state/ProgramState.h"
#include "text/IniFile.h"
#include "text/NumericValue.h"

namespace tarvel {
namespace {

// A plain decimal number without blanks, &-prefixes or D exponents, as strtod reads it.
bool IsPlainDecimal(std::string_view text) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t count = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    count += digits();
  }
  if (count == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

// The conversions of one value, with the relations between them.
void CheckConversions(std::string_view text) {
  const NumberScan scan = ScanNumber(text);
  Require(scan.Length <= text.size(), "ScanNumber takes no more than the text");
  Require(scan.HasDigits || (scan.Value == 0 && scan.Length == 0), "no digits read as 0");
  Require(!std::isnan(scan.Value), "a number is never NaN");
  const double value = NumericValue(text);
  Require(value == scan.Value, "NumericValue is the scanned value");
  // A blank after the number changes nothing, but takes the general path instead of the one
  // for plain digits.
  const NumberScan padded = ScanNumber(std::string(text) + " ");
  Require(padded.Value == scan.Value && padded.Length == scan.Length,
          "a trailing blank is skipped");
  if (IsPlainDecimal(text) && text.size() < 2000) {
    const std::string copy(text);
    Require(value == std::strtod(copy.c_str(), nullptr), "a plain number reads as strtod reads it");
  }
  Require(FlagValue(text) == (value != 0), "FlagValue is NumericValue not 0");
  if (const auto whole = LongValue(text)) {
    Require(std::fabs(static_cast<double>(*whole) - value) <= 0.5, "LongValue rounds");
  } else {
    Require(!(std::fabs(value) < 2147483647.0), "LongValue fails only out of range");
  }
  if (const auto whole = IntegerValue(text)) {
    Require(std::fabs(static_cast<double>(*whole) - value) <= 0.5, "IntegerValue rounds");
  }
  const std::string keyword = KeywordValue(text);
  Require(keyword.size() <= text.size(), "KeywordValue only trims");
  RunAsServiceValue(text);
}

void CheckSettings(const IniFile& ini) {
  GeneralSettings general;
  if (const auto error = ReadGeneralSettings(ini, general)) error->Text();
  Require(general.WatchDogTagName.size() <= IniFile::MaxValueLength, "values are cut");
  for (int port = 0; port < PortCount; ++port) {
    PortEntry entry;
    std::string portType;
    if (const auto error = ReadPortSettings(ini, port, entry, portType)) error->Text();
    Require(entry.Description.size() <= IniFile::MaxValueLength, "values are cut");
    CheckConversions(entry.ComSetting);
    CheckConversions(entry.RemoteAddress);
  }
  CheckConversions(ini.ReadIniValue("General", "WatchDogTagName", ""));
}

}  // namespace
}  // namespace tarvel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  tarvel::CheckSettings(tarvel::IniFile::FromText(text));
  tarvel::CheckConversions(text);
  return 0;
}
