#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/KeepFileIo.h"

namespace tarvel {

// Keep files in memory, on a disk that can be made full (Capacity).
class FakeKeepFileIo : public KeepFileIo {
 public:
  std::map<std::string, std::string> Files;
  uint64_t Capacity = UINT64_MAX;  // bytes all files together may hold
  std::string SyncError;           // what a sync reports, as a failing disk's fdatasync does

  std::string Read(const std::string& path, uint64_t maxBytes, std::string& contents,
                   bool& found) override {
    found = Files.contains(path);
    contents = found ? Files[path] : std::string();
    return contents.size() > maxBytes ? "too large" : "";
  }
  std::string Replace(const std::string& path, std::string_view contents) override {
    // The temporary file needs room beside the old one until the rename.
    if (Used() + contents.size() > Capacity) return "No space left on device";
    Files[path] = std::string(contents);
    open_ = path;
    return {};
  }
  std::string OpenExisting(const std::string& path, uint64_t size) override {
    if (!Files.contains(path)) return "No such file or directory";
    if (Files[path].size() != size) return "changed while it was read";
    open_ = path;
    return {};
  }
  std::string SetAside(const std::string& path, const std::string& newPath) override {
    if (Files.contains(newPath)) return "File exists";
    if (!Files.contains(path)) return "No such file or directory";
    Files[newPath] = std::move(Files[path]);
    Files.erase(path);
    if (open_ == path) open_.clear();
    return {};
  }
  std::string Append(std::string_view bytes) override {
    if (open_.empty()) return "not open";
    if (Used() + bytes.size() > Capacity) return "No space left on device";
    Files[open_].append(bytes);
    return {};
  }
  std::string WriteAt(uint64_t offset, std::string_view bytes) override {
    if (open_.empty() || offset + bytes.size() > Files[open_].size()) return "bad write";
    Files[open_].replace(offset, bytes.size(), bytes);
    return {};
  }
  std::string Truncate(uint64_t size) override {
    if (open_.empty()) return "not open";
    Files[open_].resize(size);
    return {};
  }
  std::string Sync() override { return open_.empty() ? "not open" : SyncError; }
  void Close() override { open_.clear(); }
  uint64_t Used() const {
    uint64_t used = 0;
    for (const auto& [name, contents] : Files) used += contents.size();
    return used;
  }

 private:
  std::string open_;
};

}  // namespace tarvel
