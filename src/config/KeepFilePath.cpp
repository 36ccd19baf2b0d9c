#include "config/KeepFilePath.h"

#include <filesystem>

namespace tarvel {
namespace {

// "/a//b/./c/../d/" -> "/a/b/d": resolved by the text alone, no trailing slash.
std::string Normal(const std::string& path) {
  std::string normal = std::filesystem::path(path).lexically_normal().generic_string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

}  // namespace

std::string KeepFilePath(std::string_view keepFile, std::string_view programPath) {
  if (keepFile.empty() || keepFile.front() == '/') return std::string(keepFile);
  std::string path(programPath);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + std::string(keepFile);
}

std::string KeepFileClash(std::string_view keepFile, std::string_view programPath,
                          const std::vector<ProgramFile>& ownFiles) {
  if (keepFile.empty()) return "";
  const std::string keep = Normal(KeepFilePath(keepFile, programPath));
  for (const ProgramFile& own : ownFiles) {
    const std::string ownPath = Normal(KeepFilePath(own.Name, programPath));
    const bool folder = own.Name.ends_with('/');
    if (keep == ownPath || (folder && keep.starts_with(ownPath + "/"))) {
      return (folder && keep != ownPath ? "is in " : "is ") + own.What + " " + ownPath +
             (folder ? "/" : "") + "; the keep file needs a name of its own";
    }
  }
  return "";
}

}  // namespace tarvel
