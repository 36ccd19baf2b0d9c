#include "app/ConfigCheckCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/Startup.h"
#include "config/ConfigCheck.h"
#include "config/ConfigReader.h"
#include "config/IniFile.h"
#include "config/KeepFilePath.h"
#include "output/KeepFileFormat.h"
#include "output/KeptLines.h"
#include "platform/LinuxServiceControl.h"
#include "platform/PosixProcessControl.h"

namespace tarvel {

std::string ProgramFolderProblem(const std::string& programPath) {
  std::error_code error;
  if (std::filesystem::is_directory(programPath, error)) return "";
  return "the program folder " + programPath + " does not exist";
}

std::string SerialDeviceProblem(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return errno == ENOENT ? "does not exist"
                           : std::string("cannot be looked at (") + std::strerror(errno) + ")";
  if (!S_ISCHR(status.st_mode)) return "is not a character device";
  // The gateway opens it for reading only.
  if (::access(path.c_str(), R_OK) != 0)
    return std::string("cannot be read by this user (") + std::strerror(errno) + ")";
  return "";
}

std::vector<ProgramFile> ProgramOwnFiles() {
  return {{IniFile::FileName, "the configuration file"},
          {ProgramLayout::LogFolderName, "the log folder"},
          {PosixProcessControl::LockFileName, "the running-copy lock"},
          {LinuxServiceControl::SettingsFileName, "the service settings file"}};
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

int RunConfigCheck(const ProgramLayout& layout, bool strict, std::ostream& out, KeepFileIo& keepIo,
                   ServiceControl& service) {
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
       CheckConfiguration(ini, ConfigCheckInput{iniPath, readProblem, SerialDeviceProblem,
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
