#pragma once

#include <optional>
#include <string>

#include "config/IniFile.h"
#include "state/GeneralSettings.h"
#include "state/PortEntry.h"

namespace tarvel {

// A configuration value that cannot be held (out of range): start-up reports it and stops.
struct ConfigError {
  std::string Section;
  std::string Key;
  std::string Value;
  // "Configuration value out of range: [Section] Key=Value"
  std::string Text() const;
};

// Reads the section "General" in its documented key order.
std::optional<ConfigError> ReadGeneralSettings(const IniFile& ini, GeneralSettings& settings);

// Reads the section "TARVEL80_Port_" + port into the entry's configuration fields, in the
// documented key order, and gives the port's PortType as a keyword (trimmed, upper case).
std::optional<ConfigError> ReadPortSettings(const IniFile& ini, int port, PortEntry& entry,
                                            std::string& portType);

}  // namespace tarvel
