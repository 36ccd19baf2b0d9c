#include "app/CommandLine.h"

#include <filesystem>

namespace tarvel {

namespace {

bool IsSwitch(const std::string& argument, char letter) {
  return argument.size() == 2 && argument[0] == '/' &&
         (argument[1] == letter || argument[1] == letter + ('a' - 'A'));
}

}  // namespace

CommandLine CommandLine::Parse(const std::vector<std::string>& arguments) {
  CommandLine line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--dir") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        line.Error = "--dir needs a folder";
        return line;
      }
      line.Dir = arguments[++i];
    } else if (argument.rfind("--dir=", 0) == 0 && argument.size() > 6) {
      line.Dir = argument.substr(6);
    } else if (argument == "--headless") {
      line.Headless = true;
    } else if (argument == "--check") {
      line.Check = true;
    } else if (argument == "--strict") {
      line.Strict = true;
    } else if (argument == "--help" || argument == "-h") {
      line.Help = true;
    } else if (argument == "--version") {
      line.Version = true;
    } else if (IsSwitch(argument, 'I')) {
      line.Install = true;
    } else if (IsSwitch(argument, 'U')) {
      line.Uninstall = true;
    } else {
      line.Error = "unknown argument: " + argument;
      return line;
    }
  }
  if (line.Strict && !line.Check) line.Error = "--strict goes with --check";
  if (line.Uninstall) line.Install = false;
  return line;
}

std::string CommandLine::Usage() {
  return "Usage: tarvel80import [--dir DIR] [--headless] [/I | /U]\n"
         "       tarvel80import --check [--strict] [--dir DIR]\n"
         "  --dir DIR   program folder: TARVEL80Import.ini, LogFiles/, debug.txt\n"
         "              (default: the folder of the executable; it must exist)\n"
         "  --headless  no windows; messages go to standard error\n"
         "  --check     read the configuration as start-up does, print every error and\n"
         "              warning with its place and reason, then end: status 0 without\n"
         "              errors (warnings allowed), 1 with errors\n"
         "  --strict    with --check: warnings give status 1 too\n"
         "  /I          install as the system service TARVEL80ImportForOstrel, then end\n"
         "  /U          uninstall the service, then end (wins over /I)\n"
         "  --help      this text\n"
         "  --version   print the version\n";
}

std::string ProgramFolder(const std::string& givenDir, const std::string& executablePath,
                          const std::string& currentFolder) {
  namespace fs = std::filesystem;
  fs::path folder = givenDir.empty() ? fs::path(executablePath).parent_path() : fs::path(givenDir);
  if (folder.is_relative()) folder = fs::path(currentFolder) / folder;
  std::string text = folder.lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

}  // namespace tarvel
