#pragma once

#include <ostream>
#include <string>

namespace tarvel {

// Why the program folder cannot be used ("the program folder /x/ does not exist"); empty when
// it is a folder.
std::string ProgramFolderProblem(const std::string& programPath);

// Whether a path names something that exists (a serial device, for the check).
bool PathExists(const std::string& path);

// tarvel80import --check: reads the configuration of the program folder as start-up does and
// writes every finding to out, one line each, then a summary line. Gives the exit status: 0
// without errors (warnings allowed), 1 with errors.
int RunConfigCheck(const std::string& programPath, std::ostream& out);

}  // namespace tarvel
