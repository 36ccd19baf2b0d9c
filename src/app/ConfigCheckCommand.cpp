#include "app/ConfigCheckCommand.h"

#include <filesystem>
#include <system_error>

#include "app/Startup.h"
#include "config/ConfigCheck.h"
#include "config/ConfigReader.h"
#include "config/KeepFilePath.h"
#include "output/KeepFileFormat.h"
#include "output/KeptLines.h"
#include "text/IniFile.h"

namespace tarvel {

std::string ProgramFolderProblem(const std::string& programPath) {
  std::error_code error;
  if (std::filesystem::is_directory(programPath, error)) return "";
  return "the program folder " + programPath + " does not exist";
}

std::vector<ProgramFile> ProgramOwnFiles() {
  return {{ProgramLayout::ConfigFileName, "the configuration file"},
          {ProgramLayout::LogFolderName, "the log folder"},
          {ProgramLayout::LockFileName, "the running-copy lock"},
          {ProgramLayout::ServiceSettingsFileName, "the service settings file"}};
}

// A file at the keep path that is not a keep file ends start-up, so the check reports it too.
std::string KeepFileContentError(const IniFile& ini, const std::string& programPath,
                                 KeepFileIo& io) {
  GeneralSettings general;
  if (ReadGeneralSettings(ini, general) || general.KeepFile.empty() ||
      !KeepFileClash(general.KeepFile, programPath, ProgramOwnFiles()).empty())
    return {};
  std::string contents;
  bool found = false;
  const std::string path = KeepFilePath(general.KeepFile, programPath);
  if (!io.Read(path, KeptLines::MaxFileBytes, contents, found).empty() || contents.empty() ||
      keepfile::Parse(contents).IsKeepFile)
    return {};
  return ConfigError{"General", "KeepFile", general.KeepFile, KeptLines::NotAKeepFileProblem}
      .Text();
}

int RunConfigCheck(
    const ProgramLayout& layout, bool strict, std::ostream& out, KeepFileIo& keepIo,
    ServiceControl& service,
    const std::function<std::string(const std::string& device)>& serialDeviceProblem) {
  const std::string& programPath = layout.ProgramPath;
  if (const std::string problem = ProgramFolderProblem(programPath); !problem.empty()) {
    out << "Configuration error: " << problem << "\n";
    return 1;
  }
  const std::string& iniPath = layout.ConfigPath;
  std::string readProblem;
  const IniFile ini = IniFile::Load(iniPath, readProblem);
  int errors = 0;
  int warnings = 0;
  for (const ConfigFinding& finding :
       CheckConfiguration(ini, ConfigCheckInput{iniPath, readProblem, serialDeviceProblem,
                                                programPath, ProgramOwnFiles()})) {
    out << finding.Text << "\n";
    ++(finding.IsError ? errors : warnings);
  }
  if (const std::optional<ConfigError> error = ReadStoredServiceFlag(service).Error) {
    out << error->Text() << "\n";
    ++errors;
  }
  if (const std::string error = KeepFileContentError(ini, programPath, keepIo); !error.empty()) {
    out << error << "\n";
    ++errors;
  }
  out << iniPath << ": " << errors << (errors == 1 ? " error, " : " errors, ") << warnings
      << (warnings == 1 ? " warning" : " warnings") << "\n";
  return errors == 0 && (!strict || warnings == 0) ? 0 : 1;
}

}  // namespace tarvel
