#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// A file or folder of the program's own in its folder, which the keep file must never be.
struct ProgramFile {
  std::string Name;  // relative to the program folder; ending in "/": a folder and all inside
  std::string What;  // for the reason, e.g. "the configuration file"
};

// The keep file's path: KeepFile as written when it starts with "/", else in the program
// folder; empty when KeepFile is empty (kept lines stay in memory only).
std::string KeepFilePath(std::string_view keepFile, std::string_view programPath);

// Why the keep file cannot be used because it is one of ownFiles (kept lines written there would
// destroy it); empty when it is none of them. The paths are compared as written after ".", ".."
// and repeated slashes are resolved; links are not followed (the keep file is never opened
// through one).
std::string KeepFileClash(std::string_view keepFile, std::string_view programPath,
                          const std::vector<ProgramFile>& ownFiles);

}  // namespace tarvel
