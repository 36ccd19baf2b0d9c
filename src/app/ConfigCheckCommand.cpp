#include "app/ConfigCheckCommand.h"

#include <filesystem>
#include <system_error>

#include "config/ConfigCheck.h"
#include "config/IniFile.h"
#include "platform/LinuxServiceControl.h"
#include "platform/PosixProcessControl.h"

namespace tarvel {

std::string ProgramFolderProblem(const std::string& programPath) {
  std::error_code error;
  if (std::filesystem::is_directory(programPath, error)) return "";
  return "the program folder " + programPath + " does not exist";
}

bool PathExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::vector<ProgramFile> ProgramOwnFiles() {
  return {{IniFile::FileName, "the configuration file"},
          {"LogFiles/", "the log folder"},
          {PosixProcessControl::LockFileName, "the running-copy lock"},
          {LinuxServiceControl::SettingsFileName, "the service settings file"}};
}

int RunConfigCheck(const std::string& programPath, std::ostream& out) {
  if (const std::string problem = ProgramFolderProblem(programPath); !problem.empty()) {
    out << "Configuration error: " << problem << "\n";
    return 1;
  }
  const std::string iniPath = programPath + IniFile::FileName;
  std::string readProblem;
  const IniFile ini = IniFile::Load(iniPath, readProblem);
  int errors = 0;
  int warnings = 0;
  for (const ConfigFinding& finding : CheckConfiguration(
           ini,
           ConfigCheckInput{iniPath, readProblem, PathExists, programPath, ProgramOwnFiles()})) {
    out << finding.Text << "\n";
    ++(finding.IsError ? errors : warnings);
  }
  out << iniPath << ": " << errors << (errors == 1 ? " error, " : " errors, ") << warnings
      << (warnings == 1 ? " warning" : " warnings") << "\n";
  return errors == 0 ? 0 : 1;
}

}  // namespace tarvel
