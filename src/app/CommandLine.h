#pragma once

#include <string>
#include <vector>

namespace tarvel {

// The parsed command line: tarvel80import [--dir DIR] [--headless] [/I | /U],
// tarvel80import --check [--strict] [--dir DIR], --help, --version.
struct CommandLine {
  std::string Dir;  // the program folder given with --dir; empty when not given
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

// The program folder as an absolute path ending in "/": the folder given, else the folder of
// the executable. currentFolder resolves a relative folder.
std::string ProgramFolder(const std::string& givenDir, const std::string& executablePath,
                          const std::string& currentFolder);

}  // namespace tarvel
