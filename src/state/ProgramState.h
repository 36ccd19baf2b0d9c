#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/GeneralSettings.h"
#include "config/PortEntry.h"

namespace tarvel {

using PortTable = std::array<PortEntry, PortCount>;

// All state that more than one part of the gateway shares, for the life of the process.
struct ProgramState {
  std::string ProgramPath;  // the program folder, always ending in "/"
  std::string LogPath;      // the folder of the daily logs, always ending in "/"
  bool RunAsService = false;
  GeneralSettings General;
  PortTable Ports;  // configuration: read only after start-up
};

}  // namespace tarvel
