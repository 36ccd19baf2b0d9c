#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel {

// The one file the kept alarm-server lines are written to, so that they outlive a restart.
// Every operation returns the operating system's error text, or an empty text on success;
// none throws. Calls block the caller for the length of the system call (fdatasync included).
class KeepFileIo {
 public:
  virtual ~KeepFileIo() = default;

  // Reads the whole file at path into contents. Only a regular file (no symbolic link) of at
  // most maxBytes is read. A missing file is not an error: found is false and contents empty.
  virtual std::string Read(const std::string& path, uint64_t maxBytes, std::string& contents,
                           bool& found) = 0;
  // Replaces the file at path with contents, durably: a new temporary file in the same folder
  // (created exclusively, never through a symbolic link), synced, renamed over the old one.
  // The new file stays open for the operations below; a failure leaves the file that was open
  // before open and untouched (a full disk must not cost the file in use).
  virtual std::string Replace(const std::string& path, std::string_view contents) = 0;
  // Opens the existing regular file at path (no symbolic link) for the operations below, to
  // go on writing where it ends; size is the size it was read with, and a file of another size
  // now is an error. Needs no new space on the disk.
  virtual std::string OpenExisting(const std::string& path, uint64_t size) = 0;
  // Renames the file at path to newPath, never over an existing file (an error then).
  virtual std::string SetAside(const std::string& path, const std::string& newPath) = 0;
  // Appends to the open file.
  virtual std::string Append(std::string_view bytes) = 0;
  // Overwrites bytes of the open file at offset (never beyond its end).
  virtual std::string WriteAt(uint64_t offset, std::string_view bytes) = 0;
  // Cuts the open file to size bytes.
  virtual std::string Truncate(uint64_t size) = 0;
  // fdatasync of the open file.
  virtual std::string Sync() = 0;
  // Closes the open file; harmless when none is open.
  virtual void Close() = 0;
};

}  // namespace tarvel
