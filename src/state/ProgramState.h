#pragma once

#include <cstdint>
#include <string>

#include "config/GeneralSettings.h"

namespace tarvel {

// All state that more than one part of the gateway shares, for the life of the process.
struct ProgramState {
  std::string ProgramPath;  // the program folder, always ending in "/"
  std::string LogPath;      // the folder of the daily logs, always ending in "/"
  bool RunAsService = false;
  GeneralSettings General;
};

}  // namespace tarvel
