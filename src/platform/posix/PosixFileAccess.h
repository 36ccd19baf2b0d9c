#pragma once

#include "platform/FileAccess.h"

namespace tarvel {

// Files through plain POSIX calls.
class PosixFileAccess : public FileAccess {
 public:
  ReadOutcome ReadRegularFile(const std::string& path, size_t maxBytes) override;
  Appended AppendInFolder(const std::string& folder, const std::string& name,
                          const AppendText& text) override;
  bool AppendToFile(const std::string& path, std::string_view bytes) override;
};

}  // namespace tarvel
