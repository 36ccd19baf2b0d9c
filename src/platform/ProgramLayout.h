#pragma once

#include <string>

namespace tarvel {

// Where the program keeps its files. Folders are absolute and end in "/".
struct ProgramLayout {
  static constexpr const char* ConfigFileName = "TARVEL80Import.ini";
  static constexpr const char* LogFolderName = "LogFiles/";
  static constexpr const char* LockFileName = "TARVEL80Import.lock";  // the running-copy lock
  static constexpr const char* ServiceSettingsFileName = "TARVEL80Import.service.ini";

  std::string ProgramPath;  // the lock, the keep file, the service settings, debug.txt
  std::string ConfigPath;   // the INI file
  std::string LogPath;      // the daily log files

  // A folder's path as the layout keeps it: ending in "/".
  static std::string AsFolder(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
  }

  // Everything in the program folder, as a program that is not installed keeps it.
  static ProgramLayout InFolder(const std::string& programPath) {
    return {programPath, programPath + ConfigFileName, programPath + LogFolderName};
  }
};

}  // namespace tarvel
