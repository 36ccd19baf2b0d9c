#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// The files the logic reads and appends to: the INI files, the daily log, debug.txt. The
// logic never opens a file itself, so that it builds for another system with another
// implementation. No operation throws.
class FileAccess {
 public:
  virtual ~FileAccess() = default;

  struct ReadOutcome {
    std::string Bytes;
    bool Exists = true;   // false: nothing under the path
    std::string Problem;  // why a file that exists was not read ("not a regular file"); else empty
  };
  // At most maxBytes of the file, read only when it is a regular file, opened without blocking
  // so that a pipe or device under the name cannot stall the caller.
  virtual ReadOutcome ReadRegularFile(const std::string& path, size_t maxBytes) = 0;

  enum class Appended { Whole, Declined, Failed, FolderIsLink, FileIsLink };
  // What to append to a file, given its size and its last bytes (up to two; empty when it is
  // empty or they could not be read); nothing declines the append.
  using AppendText =
      std::function<std::optional<std::string>(uint64_t size, std::string_view lastBytes)>;
  // Appends to the regular file `name` in an existing folder, creating the file; follows no
  // symbolic link, neither at the folder nor at the file, and never creates the folder.
  virtual Appended AppendInFolder(const std::string& folder, const std::string& name,
                                  const AppendText& text) = 0;

  // Appends the bytes to the file at path, creating it; a link at the file's name is never
  // written through, and a pipe there never blocks. False when not all were written.
  virtual bool AppendToFile(const std::string& path, std::string_view bytes) = 0;
};

// The files of the system the program runs on.
FileAccess& SystemFiles();

}  // namespace tarvel
