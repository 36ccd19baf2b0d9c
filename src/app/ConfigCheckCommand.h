#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "config/KeepFilePath.h"
#include "platform/KeepFileIo.h"
#include "platform/ProgramLayout.h"
#include "platform/ServiceControl.h"

namespace tarvel {

// Why the program folder cannot be used ("the program folder /x/ does not exist"); empty when
// it is a folder.
std::string ProgramFolderProblem(const std::string& programPath);

// The files and folders in the program folder that the program itself writes or reads
// (configuration, log folder, running-copy lock, service settings): no setting may name them.
std::vector<ProgramFile> ProgramOwnFiles();

// tarvel80import --check: reads the configuration file and the stored service flag as start-up
// does and writes every finding to out, one line each, then a summary line. Gives the exit
// status: 0 without errors (warnings allowed unless strict), 1 with errors (or, strict, with
// warnings). keepIo reads the keep file, which must be a keep file if it is there;
// serialDeviceProblem tells why a serial device cannot be opened.
int RunConfigCheck(
    const ProgramLayout& layout, bool strict, std::ostream& out, KeepFileIo& keepIo,
    ServiceControl& service,
    const std::function<std::string(const std::string& device)>& serialDeviceProblem);

}  // namespace tarvel
