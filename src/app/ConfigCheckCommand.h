#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "config/KeepFilePath.h"
#include "platform/KeepFileIo.h"
#include "state/ProgramLayout.h"

namespace tarvel {

// Why the program folder cannot be used ("the program folder /x/ does not exist"); empty when
// it is a folder.
std::string ProgramFolderProblem(const std::string& programPath);

// Whether a path names something that exists (a serial device, for the check).
bool PathExists(const std::string& path);

// The files and folders in the program folder that the program itself writes or reads
// (configuration, log folder, running-copy lock, service settings): no setting may name them.
std::vector<ProgramFile> ProgramOwnFiles();

// tarvel80import --check: reads the configuration file as start-up does and
// writes every finding to out, one line each, then a summary line. Gives the exit status: 0
// without errors (warnings allowed), 1 with errors. keepIo reads the keep file, which must be a
// keep file if it is there.
int RunConfigCheck(const ProgramLayout& layout, std::ostream& out, KeepFileIo& keepIo);

}  // namespace tarvel
