#pragma once

#include <string>
#include <vector>

#include "platform/ProgramLayout.h"

namespace tarvel {

// The parsed command line: tarvel80import [--dir DIR] [--config FILE] [--log-dir DIR]
// [--headless] [/I | /U], tarvel80import --check [--strict] [--dir DIR] [--config FILE],
// --help, --version. An option's value follows as the next argument or after "=".
struct CommandLine {
  std::string Dir;     // the program folder given with --dir; empty when not given
  std::string Config;  // the INI file given with --config; empty when not given
  std::string LogDir;  // the log folder given with --log-dir; empty when not given
  bool Headless = false;
  bool Install = false;    // "/I": register the service, then end
  bool Uninstall = false;  // "/U": remove the service registration, then end (wins over /I)
  bool Check = false;      // "--check": report what is wrong with the configuration, then end
  bool Strict = false;     // "--strict", with --check only: warnings fail the check too
  bool Help = false;
  bool Version = false;
  std::string Error;  // not empty when the command line cannot be used

  // The arguments after the program name. "/I" and "/U" count only as whole arguments, in any
  // letter case, so a folder such as /usr/... given with --dir never triggers an uninstall.
  static CommandLine Parse(const std::vector<std::string>& arguments);
  static std::string Usage();
};

// The layout of an installed program that is given no --dir.
inline constexpr const char* SystemProgramFolder = "/var/lib/tarvel80import/";
inline constexpr const char* SystemConfigFile = "/etc/tarvel80import/TARVEL80Import.ini";
inline constexpr const char* SystemLogFolder = "/var/log/tarvel80import/";

// Installed: the executable's folder is named bin or sbin (/usr/bin, /usr/local/bin), a folder
// the program must never write to.
bool IsInstalled(const std::string& executablePath);

// Where the program keeps its files: what --dir, --config and --log-dir give; without --dir, the
// system layout when installed, else the executable's folder. currentFolder resolves a relative
// path.
ProgramLayout ResolveLayout(const CommandLine& line, const std::string& executablePath,
                            const std::string& currentFolder);

}  // namespace tarvel
