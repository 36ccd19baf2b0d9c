#pragma once

#include "platform/KeepFileIo.h"

namespace tarvel {

// The keep file through plain POSIX calls.
class PosixKeepFileIo : public KeepFileIo {
 public:
  PosixKeepFileIo() = default;
  ~PosixKeepFileIo() override;
  PosixKeepFileIo(const PosixKeepFileIo&) = delete;
  PosixKeepFileIo& operator=(const PosixKeepFileIo&) = delete;

  std::string Read(const std::string& path, uint64_t maxBytes, std::string& contents,
                   bool& found) override;
  std::string Replace(const std::string& path, std::string_view contents) override;
  std::string OpenExisting(const std::string& path, uint64_t size) override;
  std::string SetAside(const std::string& path, const std::string& newPath) override;
  std::string Append(std::string_view bytes) override;
  std::string WriteAt(uint64_t offset, std::string_view bytes) override;
  std::string Truncate(uint64_t size) override;
  std::string Sync() override;
  void Close() override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;  // of the open file, as written through this object
};

}  // namespace tarvel
