#include "app/CommandLine.h"

#include <algorithm>
#include <filesystem>

namespace tarvel {

namespace {

bool IsSwitch(const std::string& argument, char letter) {
  return argument.size() == 2 && argument[0] == '/' &&
         (argument[1] == letter || argument[1] == letter + ('a' - 'A'));
}

std::string Absolute(const std::filesystem::path& path, const std::string& currentFolder) {
  return (path.is_relative() ? currentFolder / path : path).lexically_normal().string();
}

}  // namespace

CommandLine CommandLine::Parse(const std::vector<std::string>& arguments) {
  static const struct {
    std::string Name;
    std::string CommandLine::*Value;
    const char* What;
  } valueOptions[] = {{"--dir", &CommandLine::Dir, "a folder"},
                      {"--config", &CommandLine::Config, "a file"},
                      {"--log-dir", &CommandLine::LogDir, "a folder"}};
  CommandLine line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto option =
        std::find_if(std::begin(valueOptions), std::end(valueOptions), [&](const auto& candidate) {
          return argument == candidate.Name || argument.rfind(candidate.Name + "=", 0) == 0;
        });
    if (option != std::end(valueOptions)) {
      std::string value = argument.size() > option->Name.size()
                              ? argument.substr(option->Name.size() + 1)
                              : (i + 1 < arguments.size() ? arguments[++i] : "");
      if (value.empty()) {
        line.Error = option->Name + " needs " + option->What;
        return line;
      }
      line.*(option->Value) = std::move(value);
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
  const std::string logs = ProgramLayout::LogFolderName;
  return "Usage: tarvel80import [--dir DIR] [--config FILE] [--log-dir DIR] [--headless]\n"
         "                      [/I | /U]\n"
         "       tarvel80import --check [--strict] [--dir DIR] [--config FILE]\n"
         "  --dir DIR      program folder (it must exist): running-copy lock, keep file,\n"
         "                 service settings, debug.txt; TARVEL80Import.ini and " +
         logs +
         "\n"
         "                 unless given below (default: the folder of the executable; when\n"
         "                 installed in a bin or sbin folder, the system layout:\n"
         "                 /var/lib/tarvel80import/ with the configuration\n"
         "                 /etc/tarvel80import/TARVEL80Import.ini and the logs in\n"
         "                 /var/log/tarvel80import/)\n"
         "  --config FILE  the configuration file (default: DIR/TARVEL80Import.ini)\n"
         "  --log-dir DIR  the folder of the daily log files (default: DIR/" +
         logs +
         ")\n"
         "  --headless     no windows; messages go to standard error\n"
         "  --check        read the configuration as start-up does, print every error and\n"
         "                 warning with its place and reason, then end: status 0 without\n"
         "                 errors (warnings allowed), 1 with errors\n"
         "  --strict       with --check: warnings give status 1 too\n"
         "  /I             install as the system service TARVEL80ImportForOstrel, then end\n"
         "  /U             uninstall the service, then end (wins over /I)\n"
         "  --help         this text\n"
         "  --version      print the version\n";
}

bool IsInstalled(const std::string& executablePath) {
  const std::string folder =
      std::filesystem::path(executablePath).parent_path().filename().string();
  return folder == "bin" || folder == "sbin";
}

ProgramLayout ResolveLayout(const CommandLine& line, const std::string& executablePath,
                            const std::string& currentFolder) {
  ProgramLayout layout =
      line.Dir.empty() && IsInstalled(executablePath)
          ? ProgramLayout{SystemProgramFolder, SystemConfigFile, SystemLogFolder}
          : ProgramLayout::InFolder(ProgramLayout::AsFolder(
                Absolute(line.Dir.empty() ? std::filesystem::path(executablePath).parent_path()
                                          : std::filesystem::path(line.Dir),
                         currentFolder)));
  if (!line.Config.empty()) layout.ConfigPath = Absolute(line.Config, currentFolder);
  if (!line.LogDir.empty())
    layout.LogPath = ProgramLayout::AsFolder(Absolute(line.LogDir, currentFolder));
  return layout;
}

}  // namespace tarvel
