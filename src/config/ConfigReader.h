#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/GeneralSettings.h"
#include "config/PortEntry.h"
#include "text/IniFile.h"

namespace tarvel {

// A configuration value that cannot be used: start-up reports it and stops.
struct ConfigError {
  std::string Section;
  std::string Key;
  std::string Value;  // the key's value, or the faulty entry of a list
  // What is wrong; empty for a value out of range.
  std::string Problem = "";
  // "Configuration value out of range: [Section] Key=Value", or with a problem named:
  // "Configuration error: [Section] Key: " + Problem + " \"" + Value + "\""
  std::string Text() const;
};

// A value that start-up reads other than it is written ("5min" as 5, "yes" as off): start-up
// goes on with the reading, and the check and the start say how the value was read.
struct ConfigWarning {
  std::string Section;
  std::string Key;
  std::string Value;
  std::string Reading;  // e.g. "read as 5 (text after the number is ignored)"
  // "Configuration warning: [Section] Key=Value: " + Reading
  std::string Text() const;
};

// The reason given for a TCP port number that is not a whole number from 1 to 65535.
constexpr const char* PortNumberProblem =
    "not a port number (expected a whole number from 1 to 65535)";

// A TCP port number: a whole number from 1 to 65535, nothing else after it but blanks (so
// "fourteen", "2.5" and "14000x" are none).
std::optional<int32_t> PortNumberValue(std::string_view text);

// The sections and keys are known by what these readers ask for (IniFile::WasAsked): a new
// key is one more line in its reader. Each reader gives its section's first error, and adds
// every error to allErrors when given, and every numeric value that is read other than it is
// written to warnings when given (a key with an error has no warning). Intervals and timeouts
// must not be negative.

// Reads the section "General" in its documented key order, then the access keys
// OstrelAllowedHosts and OstrelBindAddress, then LogRetentionDays, the status server's keys and
// the keeping keys KeepLimit and KeepFile. StatusPort missing, empty or "0" means no status
// server; any other value must be a port number.
std::optional<ConfigError> ReadGeneralSettings(const IniFile& ini, GeneralSettings& settings,
                                               std::vector<ConfigError>* allErrors = nullptr,
                                               std::vector<ConfigWarning>* warnings = nullptr);

// The INI sections of the input ports: the prefix and the port number 0..7.
inline constexpr const char* PortSectionPrefix = "TARVEL80_Port_";
std::string PortSection(int port);

// Reads the section PortSection(port) into the entry's configuration fields, in the
// documented key order followed by AllowedHosts and ListenAddress, and gives the port's
// PortType as a keyword (trimmed, upper case).
// A port number outside 0 to 7 reads nothing and leaves portType empty.
std::optional<ConfigError> ReadPortSettings(const IniFile& ini, int port, PortEntry& entry,
                                            std::string& portType,
                                            std::vector<ConfigError>* allErrors = nullptr,
                                            std::vector<ConfigWarning>* warnings = nullptr);

// The service flag as the service control's settings store keeps it ("0" or "1"): any number
// but 0 means the program runs as a service. Nothing when the text is not a number, which
// start-up treats as a configuration error.
std::optional<bool> RunAsServiceValue(std::string_view storedText);

}  // namespace tarvel
